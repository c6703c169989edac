#include "Component.h"

#include "ApplicationException.h"

#include <algorithm>

namespace {
// Layouts are applied on the GUI thread; a thread of its own never sees them.
thread_local TLayoutLoading* currentLayout = nullptr;
} // namespace

TComponentState::TComponentState()
{
    if (TLayoutLoading* layout = TLayoutLoading::Current()) {
        loading_ = true;
        layout->Add(this);
    }
}

TComponentState::~TComponentState()
{
    for (TLayoutLoading* layout = TLayoutLoading::Current(); layout; layout = layout->outer_)
        layout->Remove(this);
}

TLayoutLoading::TLayoutLoading() : outer_(currentLayout)
{
    currentLayout = this;
}

TLayoutLoading::~TLayoutLoading()
{
    currentLayout = outer_;
    // Components remove themselves when destroyed, so the list may shrink
    // while the after-loading steps run.
    while (!components_.empty()) {
        TComponentState* component = components_.front();
        components_.erase(components_.begin());
        try {
            component->EndLoading();
        } catch (...) {
            HandleApplicationException(nullptr);
        }
    }
}

TLayoutLoading* TLayoutLoading::Current()
{
    return currentLayout;
}

void TLayoutLoading::Remove(TComponentState* component)
{
    components_.erase(std::remove(components_.begin(), components_.end(), component), components_.end());
}
