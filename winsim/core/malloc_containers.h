// Containers of the simulation's own state. Their storage comes from malloc, never from operator new,
// so that the code under test may replace operator new (allocation hooks, failing test allocators)
// without the simulated Windows world ever passing through it or depending on it. Internal to winsim.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace winsim_detail {

template <class T> struct SimAllocator {
    using value_type = T;
    SimAllocator() = default;
    template <class U> SimAllocator(const SimAllocator<U>&) {}
    T* allocate(std::size_t count) {
        void* memory = std::malloc(count * sizeof(T) == 0 ? 1 : count * sizeof(T));
        if (memory == nullptr) {
            // The simulation is a test fixture: running out of host memory is not a modelled condition.
            std::abort();
        }
        return static_cast<T*>(memory);
    }
    void deallocate(T* memory, std::size_t) { std::free(memory); }
    template <class U> bool operator==(const SimAllocator<U>&) const { return true; }
    template <class U> bool operator!=(const SimAllocator<U>&) const { return false; }
};

using SimString = std::basic_string<char, std::char_traits<char>, SimAllocator<char>>;
using SimWString = std::basic_string<char16_t, std::char_traits<char16_t>, SimAllocator<char16_t>>;
template <class T> using SimVector = std::vector<T, SimAllocator<T>>;
template <class K, class V, class Less = std::less<K>>
using SimMap = std::map<K, V, Less, SimAllocator<std::pair<const K, V>>>;

template <class T, class... Args> std::shared_ptr<T> MakeShared(Args&&... args) {
    return std::allocate_shared<T>(SimAllocator<T>(), std::forward<Args>(args)...);
}

} // namespace winsim_detail
