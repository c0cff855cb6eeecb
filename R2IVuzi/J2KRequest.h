// A unit of network work run on a loader thread.
#pragma once

#include <boost/shared_ptr.hpp>

#include <string>

class CJ2KObserver;
class CJ2KImage;
class JpipBuffer;

class CJ2KRequest {
public:
    CJ2KRequest(const boost::shared_ptr<CJ2KObserver>& observer, const boost::shared_ptr<CJ2KImage>& image);
    virtual ~CJ2KRequest();
    CJ2KRequest(const CJ2KRequest&) = delete;
    CJ2KRequest& operator=(const CJ2KRequest&) = delete;

    virtual void Execute() = 0;
    virtual std::string name() const = 0;
    // Whether posting this request cuts short the one the loader is running.
    virtual bool interruptsRunning() const { return false; }

    // Parses one reply body into the image's cache through the parser of the
    // observer's image loader; true when the server finished the image or the window.
    // Any failure is logged and raised as CJ2KException "error when parse the databin.".
    bool processChunkData(const JpipBuffer& body);
    // Whether the last body parsed ended inside a message.
    bool lastBodyCut() const { return m_lastBodyCut; }
    // Why the parser refused the last body (empty when it did not).
    const std::string& lastRefusal() const { return m_lastRefusal; }
    // processChunkData that logs a refused or cut body with the image, this request and its
    // URL instead of raising: false when refused (nothing of it is in the cache then).
    bool acceptBody(const JpipBuffer& body, const std::string& url, bool& done);

    const boost::shared_ptr<CJ2KObserver>& getObserver() const { return m_observer; }
    const boost::shared_ptr<CJ2KImage>& getImage() const { return m_image; }

protected:
    boost::shared_ptr<CJ2KObserver> m_observer;
    boost::shared_ptr<CJ2KImage> m_image;

private:
    bool m_lastBodyCut = false;
    std::string m_lastRefusal;
};
