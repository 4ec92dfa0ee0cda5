// COM for the Win32 side: owners of interface pointers, their creation, and the apartment of
// the calling thread.
#pragma once

#include "base/Unique.h"

#include <windows.h>

#include <objbase.h>

namespace ui {

template <class Interface> struct ComTraits {
    using Type = Interface*;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { p->Release(); }
};
template <class Interface> using Com = base::Unique<ComTraits<Interface>>;

// A new in-process object, or another interface of one.
template <class Interface> HRESULT Create(REFCLSID classId, Com<Interface>* object) {
    Interface* value = nullptr;
    const HRESULT result =
        ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, __uuidof(Interface),
                           reinterpret_cast<void**>(&value));
    object->reset(value);
    return result;
}
template <class Interface> HRESULT Query(IUnknown* from, Com<Interface>* object) {
    Interface* value = nullptr;
    const HRESULT result =
        from->QueryInterface(__uuidof(Interface), reinterpret_cast<void**>(&value));
    object->reset(value);
    return result;
}

// COM on the calling thread for as long as the object lives. A thread that already has
// another apartment keeps it, and COM stays usable there.
class ComApartment {
public:
    ComApartment()
        : initialised_(SUCCEEDED(
              ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (initialised_)
            ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialised_;
};

} // namespace ui
