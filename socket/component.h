// The owned-component base of the socket layer's classes. A component knows its owner and
// whether it is being destroyed, so that events are not fired into a half-torn-down object.
#pragma once

class TObject {
public:
    virtual ~TObject() = default;
};

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner = nullptr) : Owner(AOwner) {}
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner;

    // True from the start of destruction on: status reports and close events are not sent
    // to handlers any more.
    bool Destroying() const noexcept { return FDestroying; }

protected:
    // A derived class calls this first thing in its destructor, so that the flag holds while
    // its own and the base class's destructors run.
    void BeginDestruction() noexcept { FDestroying = true; }

private:
    bool FDestroying = false;
};
