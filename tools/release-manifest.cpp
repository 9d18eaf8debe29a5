// kavri-zelvo-manifest: writes or checks the signed file list of a release
// folder, with the same code the self-updater checks it with.
//   kavri-zelvo-manifest write <release folder>
//   kavri-zelvo-manifest check <release folder>
#include "update/ReleaseManifest.h"

#include <QString>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "write") != 0 && std::strcmp(argv[1], "check") != 0)) {
        std::fprintf(stderr, "usage: kavri-zelvo-manifest write|check <release folder>\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[2]);
    const bool writing = std::strcmp(argv[1], "write") == 0;
    const QString error = writing ? zelvo::ReleaseManifest::write(root) : zelvo::ReleaseManifest::check(root);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "kavri-zelvo-manifest: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
