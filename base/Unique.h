// The owner of one handle-like value. Portable: the traits name the value's type, its "none"
// and how it is released; ui/Handles.h has those of the Win32 handles.
#pragma once

namespace base {

// Owns one handle-like value and releases it with Traits::Close when it goes.
template <class Traits> class Unique {
public:
    using Type = typename Traits::Type;

    Unique() noexcept : value_(Traits::Invalid()) {}
    explicit Unique(Type value) noexcept : value_(value) {}
    ~Unique() { reset(); }

    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;

    Type get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    Type release() noexcept {
        Type value = value_;
        value_ = Traits::Invalid();
        return value;
    }

    void reset(Type value = Traits::Invalid()) noexcept {
        if (value_ != Traits::Invalid())
            Traits::Close(value_);
        value_ = value;
    }

private:
    Type value_;
};

} // namespace base
