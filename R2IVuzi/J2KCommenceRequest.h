// Opens a new JPIP channel for the image; the reply already carries the first data-bins.
#pragma once

#include "R2IVuzi/J2KRequest.h"

class JpipCurlHandle;

class CJ2KCommenceRequest : public CJ2KRequest {
public:
    CJ2KCommenceRequest(const boost::shared_ptr<CJ2KObserver>& observer, const boost::shared_ptr<CJ2KImage>& image,
                        bool retry);
    void Execute() override;
    std::string name() const override { return "CJ2KCommenceRequest"; }
    bool interruptsRunning() const override { return true; }

    // The channel-open reply's checks, from the status code on: raises
    // CJ2KOpenStreamException when the reply is unusable; else parses the body into the
    // image's cache and returns the channel id and path.
    void handleOpenReply(long status, const JpipBuffer& headers, const JpipBuffer& body, std::string& cid,
                         std::string& path);

private:
    bool m_retry;
};
