#include "store/TComponent.h"

#include <algorithm>

namespace vantelo {

namespace {

struct PendingReference {
    std::string module;
    std::string component;
    std::function<void(TComponent*)> bind;
};

std::vector<PendingReference>& Pending()
{
    static std::vector<PendingReference> pending;
    return pending;
}

std::vector<TComponent*>& Modules()
{
    static std::vector<TComponent*> modules;
    return modules;
}

}  // namespace

TComponent::TComponent(TComponent* owner, std::string name) : name_(std::move(name)), owner_(owner) {}

TComponent::~TComponent()
{
    DestroyComponents();
    UnregisterModule(*this);
}

void TComponent::Adopt(std::unique_ptr<TComponent> component)
{
    component->owner_ = this;
    components_.push_back(std::move(component));
}

TComponent* TComponent::FindComponent(const std::string& name) const
{
    for (const auto& component : components_)
        if (component->Name() == name)
            return component.get();
    return nullptr;
}

void TComponent::DestroyComponents()
{
    // Last created first; each is removed from the list before it dies so
    // that nothing it does while dying finds a half-destroyed sibling list.
    while (!components_.empty()) {
        std::unique_ptr<TComponent> last = std::move(components_.back());
        components_.pop_back();
        last.reset();
    }
}

void TComponent::RequestReference(const std::string& module, const std::string& component,
                                  std::function<void(TComponent*)> bind)
{
    for (TComponent* registered : Modules())
        if (registered->Name() == module) {
            bind(registered->FindComponent(component));
            return;
        }
    Pending().push_back({module, component, std::move(bind)});
}

void TComponent::RegisterModule(TComponent& module)
{
    Modules().push_back(&module);
    auto& pending = Pending();
    std::vector<PendingReference> ready;
    auto split = std::stable_partition(pending.begin(), pending.end(),
                                       [&](const PendingReference& p) { return p.module != module.Name(); });
    std::move(split, pending.end(), std::back_inserter(ready));
    pending.erase(split, pending.end());
    for (auto& reference : ready)
        reference.bind(module.FindComponent(reference.component));
}

void TComponent::UnregisterModule(TComponent& module)
{
    auto& modules = Modules();
    modules.erase(std::remove(modules.begin(), modules.end(), &module), modules.end());
}

size_t TComponent::PendingReferences()
{
    return Pending().size();
}

}  // namespace vantelo
