#include "state/LaunchOptions.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace zelvo::launch {

std::optional<double> parseDecimal(const QString& text)
{
    static const QRegularExpression decimal(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    if (!decimal.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    // A number too large for a double reads as not ok or as an infinity.
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> parseDelay(const QString& text)
{
    const std::optional<double> value = parseDecimal(text);
    if (!value)
        return std::nullopt;
    return std::clamp(*value, 0.0, kLongestDelay);
}

std::optional<QString> operandOf(const QStringList& arguments, const QString& option)
{
    const qsizetype at = arguments.indexOf(option);
    if (at < 0 || at + 1 >= arguments.size())
        return std::nullopt;
    return arguments[at + 1];
}

std::optional<QSizeF> forcedWindowSize(const QStringList& arguments)
{
    const std::optional<QString> operand = operandOf(arguments, QStringLiteral("--window"));
    if (!operand)
        return std::nullopt;
    std::vector<double> numbers;
    for (const QString& piece : operand->toLower().split(QLatin1Char('x'), Qt::SkipEmptyParts)) {
        if (const std::optional<double> n = parseDecimal(piece))
            numbers.push_back(std::clamp(*n, 0.0, kLargestSide));
    }
    if (numbers.size() != 2)
        return std::nullopt;
    return QSizeF(numbers[0], numbers[1]);
}

QSizeF designSize(const std::optional<QSizeF>& window)
{
    if (!window || !(window->width() > 0.0) || !(window->height() > 0.0))
        return {kCanvasWidth, kCanvasHeight};
    const double s = std::min(window->width() / kCanvasWidth, window->height() / kCanvasHeight);
    return {std::clamp(window->width() / s, kCanvasWidth, kCanvasWidestWidth),
            std::clamp(window->height() / s, kCanvasHeight, kCanvasTallestHeight)};
}

double snapshotDelay(const QStringList& arguments, const std::optional<QByteArray>& environment)
{
    if (const std::optional<QString> operand = operandOf(arguments, QStringLiteral("--snapshot-delay")))
        if (const std::optional<double> delay = parseDelay(*operand))
            return *delay;
    if (environment)
        if (const std::optional<double> delay = parseDelay(QString::fromUtf8(*environment)))
            return *delay;
    return kSnapshotDelay;
}

int brainPort(const std::optional<QByteArray>& environment)
{
    if (!environment)
        return kBrainPort;
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    const QString text = QString::fromUtf8(*environment);
    if (!integer.match(text).hasMatch())
        return kBrainPort;
    bool ok = false;
    const qlonglong port = text.toLongLong(&ok);
    if (!ok || port < 1 || port > 65535)
        return kBrainPort;
    return int(port);
}

std::optional<DumpRequest> dumpRequest(const QStringList& arguments)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--dump-state"));
    if (at < 0 || at + 2 >= arguments.size())
        return std::nullopt;
    const std::optional<double> delay = parseDelay(arguments[at + 2]);
    if (!delay)
        return std::nullopt;
    return DumpRequest{arguments[at + 1], *delay};
}

QStringList importOperands(const QStringList& arguments)
{
    QStringList operands;
    const qsizetype at = arguments.indexOf(QStringLiteral("--import"));
    if (at < 0)
        return operands;
    for (qsizetype i = at + 1; i < arguments.size() && !arguments[i].startsWith(QStringLiteral("--")); ++i)
        operands.append(arguments[i]);
    return operands;
}

} // namespace zelvo::launch
