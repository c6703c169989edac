#pragma once

#include <vector>

// The designing and loading states of a component, and the after-loading step.
// A component built while a stored layout is applied (inside a
// TLayoutLoading scope) starts in the loading state; when the scope ends every
// such component, in creation order, runs Loaded(), which leaves that state.
class TComponentState {
public:
    TComponentState();
    virtual ~TComponentState();
    TComponentState(const TComponentState&) = delete;
    TComponentState& operator=(const TComponentState&) = delete;

    bool IsDesigning() const { return designing_; }
    bool IsLoading() const { return loading_; }

    void SetDesigning(bool designing) { designing_ = designing; }
    // Enters and leaves the loading state; leaving runs the after-loading step.
    void BeginLoading() { loading_ = true; }
    void EndLoading() { Loaded(); }

protected:
    // The after-loading step. Overrides call this first.
    virtual void Loaded() { loading_ = false; }

private:
    bool designing_ = false;
    bool loading_ = false;
};

// Applies a stored layout: components constructed while the scope lives are
// loading, and are told the layout is complete when it ends.
class TLayoutLoading {
public:
    TLayoutLoading();
    ~TLayoutLoading();
    TLayoutLoading(const TLayoutLoading&) = delete;
    TLayoutLoading& operator=(const TLayoutLoading&) = delete;

private:
    friend class TComponentState;
    static TLayoutLoading* Current();
    void Add(TComponentState* component) { components_.push_back(component); }
    void Remove(TComponentState* component);

    TLayoutLoading* outer_;
    std::vector<TComponentState*> components_;
};
