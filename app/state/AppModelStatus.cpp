#include "state/AppModel.h"

namespace zelvo {

void AppModel::setStatusLink(std::unique_ptr<StatusLink> link)
{
    status_ = link ? std::move(link) : std::make_unique<StatusLink>();
}

StatusLink& AppModel::status() const
{
    return *status_;
}

} // namespace zelvo
