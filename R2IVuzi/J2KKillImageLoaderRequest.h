// Joins an image loader's thread and deletes the loader, on the manager's thread.
#pragma once

class CJ2KImageLoader;

class CJ2KKillImageLoaderRequest {
public:
    // The request owns the loader only once execute deletes it.
    explicit CJ2KKillImageLoaderRequest(CJ2KImageLoader* loader) : m_loader(loader) {}
    virtual void execute();
    virtual ~CJ2KKillImageLoaderRequest() = default;

private:
    CJ2KImageLoader* m_loader;
};
