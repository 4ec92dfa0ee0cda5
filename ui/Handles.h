// RAII owners for Win32 handles, libraries, views, memory, image lists and hooks.
#pragma once

#include "base/Unique.h"

#include <windows.h>

#include <commctrl.h>

namespace ui {

// Kernel objects whose "none" is null: processes, threads, mappings, snapshots' peers.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};

// Files and tool-help snapshots, whose "none" is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};

struct LibraryTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::FreeLibrary(h); }
};

struct FindTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::FindClose(h); }
};

struct ViewTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { ::UnmapViewOfFile(p); }
};

struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { ::LocalFree(p); }
};

struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type k) { ::RegCloseKey(k); }
};

struct ImageListTraits {
    using Type = HIMAGELIST;
    static Type Invalid() { return nullptr; }
    static void Close(Type list) { ::ImageList_Destroy(list); }
};

struct HookTraits {
    using Type = HHOOK;
    static Type Invalid() { return nullptr; }
    static void Close(Type hook) { ::UnhookWindowsHookEx(hook); }
};

template <class Traits> using Unique = base::Unique<Traits>;

using Handle = Unique<KernelHandleTraits>;
using FileHandle = Unique<FileHandleTraits>;
using Library = Unique<LibraryTraits>;
using FindHandle = Unique<FindTraits>;
using MappedView = Unique<ViewTraits>;
using LocalMemory = Unique<LocalMemoryTraits>;
using RegKey = Unique<RegKeyTraits>;
using ImageListHandle = Unique<ImageListTraits>;
using Hook = Unique<HookTraits>;

} // namespace ui
