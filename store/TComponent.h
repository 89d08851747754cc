// Named, owned components: the base of every non-visual part of the tool
// (datasets, connections, data sources, data modules). An owner destroys the
// components it owns, last created first. A component may refer to another
// module's component by "Module.Component" before that module exists; the
// reference is bound when the module is registered (see RegisterModule).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantelo {

class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr, std::string name = {});
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    TComponent* Owner() const { return owner_; }

    // Takes ownership of a new component; returns it for convenience.
    template <class T, class... Args>
    T* Create(Args&&... args)
    {
        auto component = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = component.get();
        Adopt(std::move(component));
        return raw;
    }
    void Adopt(std::unique_ptr<TComponent> component);

    // The owned component with this name (exact match), or null.
    TComponent* FindComponent(const std::string& name) const;
    size_t ComponentCount() const { return components_.size(); }
    TComponent* Component(size_t index) const { return components_[index].get(); }

    // Destroys the owned components, last created first.
    void DestroyComponents();

    // Cross-module references. A request for "Module.Component" is bound at
    // once when the module is already registered, else when it registers.
    static void RequestReference(const std::string& module, const std::string& component,
                                 std::function<void(TComponent*)> bind);
    static void RegisterModule(TComponent& module);
    static void UnregisterModule(TComponent& module);
    static size_t PendingReferences();

private:
    std::string name_;
    TComponent* owner_;
    std::vector<std::unique_ptr<TComponent>> components_;
};

}  // namespace vantelo
