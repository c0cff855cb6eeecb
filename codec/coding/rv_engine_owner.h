// Move-only owner of one line engine (pushed or pulled); destroying the owner destroys
// the engine, children first.
#pragma once

template <class Engine>
class rv_engine_owner {
public:
    rv_engine_owner() = default;
    explicit rv_engine_owner(Engine* engine) : state(engine) {}
    ~rv_engine_owner() { destroy(); }
    rv_engine_owner(const rv_engine_owner&) = delete;
    rv_engine_owner& operator=(const rv_engine_owner&) = delete;
    rv_engine_owner(rv_engine_owner&& other) noexcept : state(other.state) { other.state = nullptr; }
    rv_engine_owner& operator=(rv_engine_owner&& other) noexcept
    {
        if (this != &other) {
            destroy();
            state = other.state;
            other.state = nullptr;
        }
        return *this;
    }

    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }
    Engine* get() const { return state; }
    // Gives up ownership without destroying the engine.
    Engine* release()
    {
        Engine* engine = state;
        state = nullptr;
        return engine;
    }
    void destroy()
    {
        delete state;
        state = nullptr;
    }

protected:
    Engine* state = nullptr;
};
