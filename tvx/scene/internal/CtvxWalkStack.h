#pragma once

#include <cstddef>
#include <vector>

// The explicit stack of the scene-graph walks. A scene may nest assemblies
// a hundred thousand deep, which no call stack survives, so every walk over
// the graph keeps its pending nodes here instead. Most scenes are a few
// levels deep: the first N entries live inside the object, on the caller's
// stack, and only deeper walks spill to the heap, so walks that run on every
// placement change or query allocate nothing in ordinary scenes.
//
// T is a small record of pointers and counters (trivially copyable).
template <class T, std::size_t N = 32>
class CtvxWalkStack {
public:
    bool empty() const { return m_size == 0; }
    std::size_t size() const { return m_size; }

    void push(T const& v)
    {
        if (m_size < N)
            m_local[m_size] = v;
        else
            m_spill.push_back(v);
        ++m_size;
    }

    T& top() { return m_size <= N ? m_local[m_size - 1] : m_spill.back(); }

    void pop()
    {
        if (m_size > N)
            m_spill.pop_back();
        --m_size;
    }

    // Entry i from the bottom (0 is the first pushed).
    T& operator[](std::size_t i) { return i < N ? m_local[i] : m_spill[i - N]; }

private:
    T m_local[N];
    std::vector<T> m_spill;
    std::size_t m_size = 0;
};
