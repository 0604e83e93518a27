#pragma once
// The small object model the components are built on: an owner, a name,
// value objects that copy themselves from their own class, and the loading
// state during which stored values are assigned without taking effect.

#include <string>

class TObject {
public:
    virtual ~TObject() = default;
    virtual std::string ClassName() const { return "TObject"; }
};

class TPersistent : public TObject {
public:
    // Copies the values of Source; raises EConvertError
    // "Cannot assign a <source class> to a <this class>" when it cannot.
    virtual void Assign(const TPersistent& Source);
    std::string ClassName() const override { return "TPersistent"; }

protected:
    [[noreturn]] void AssignError(const TPersistent& Source) const;
};

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* AOwner) : FOwner(AOwner) {}
    TComponent* Owner() const { return FOwner; }
    std::string ClassName() const override { return "TComponent"; }

    std::string Name;

    // A stored description is read between these two: every value goes
    // through its setter while the component is loading, then Loaded runs.
    void BeginLoading() { FLoading = true; }
    void EndLoading()
    {
        FLoading = false;
        Loaded();
    }
    bool Loading() const { return FLoading; }
    // Never set in this program; components honour it like the original
    // framework's design-time state.
    bool Designing() const { return false; }

protected:
    virtual void Loaded() {}

private:
    TComponent* FOwner;
    bool FLoading = false;
};
