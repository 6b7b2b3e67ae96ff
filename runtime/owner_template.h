// Owner<Traits>: the owner of one resource, free of the platform, so that the code that also
// builds natively (the registrar script interpreter) holds its resources the same way the rest
// of the product does. runtime/owner.h puts the Windows kinds on top of it, one line each.
//
// An owner closes what it holds exactly once, cannot be copied, can be moved, and hands out
// get(), reset(), release() and, for the out-parameter of an open call, receive():
//
//   RegistryKey key;
//   if (!key.Opened(RegOpenKeyExA(root, name, 0, access, key.receive()) == ERROR_SUCCESS)) return 0;
//
// Opened() takes whether the open succeeded: a failed open opened nothing, so whatever it left
// in the out-parameter is dropped, never closed. It takes a bool only, so that a status code
// (where 0 means success) cannot be passed to it by mistake.
//
// Traits give the kind: `Value`, the held type; `Empty()`, the value that holds nothing; and
// `Close(value)`, which frees a value other than that one. Traits may carry state (where the
// value must go back to the object that handed it out); an owner keeps its traits beside the
// value and moves them with it. Stateless traits take no room.
//
// Owners are locals and members only: the product has no static constructors.
#pragma once

template <typename Traits>
class Owner : private Traits {
public:
    using Value = typename Traits::Value;

    Owner() : value_(Traits::Empty()) {}
    explicit Owner(Value value) : value_(value) {}
    explicit Owner(const Traits& traits) : Traits(traits), value_(Traits::Empty()) {}
    Owner(Value value, const Traits& traits) : Traits(traits), value_(value) {}
    ~Owner() { reset(); }
    Owner(Owner&& other) : Traits(other.traits()), value_(other.release()) {}
    Owner& operator=(Owner&& other) {
        if (this != &other) {
            reset(other.release());   // what was held goes back with the traits it came with
            static_cast<Traits&>(*this) = other.traits();
        }
        return *this;
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    Value get() const { return value_; }
    bool valid() const { return value_ != Traits::Empty(); }
    explicit operator bool() const { return valid(); }
    Value operator->() const { return value_; }
    const Traits& traits() const { return *this; }

    // Gives up ownership without closing.
    Value release() {
        Value value = value_;
        value_ = Traits::Empty();
        return value;
    }
    // Closes what is held, then holds `value`.
    void reset(Value value = Traits::Empty()) {
        Value old = value_;
        value_ = value;
        if (old != Traits::Empty() && old != value) Traits::Close(old);
    }
    // For the out-parameter of an open or create call; closes what is held first.
    Value* receive() {
        reset();
        return &value_;
    }
    bool Opened(bool succeeded) {
        if (succeeded) return valid();
        value_ = Traits::Empty();
        return false;
    }
    template <typename Status>
    bool Opened(Status) = delete;

private:
    Value value_;
};
