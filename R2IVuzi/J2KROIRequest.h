// Fetches one view window on the image's open channel until the server ends it.
#pragma once

#include "R2IVuzi/J2KRequest.h"

#include <cstdint>

class CJ2KROIRequest : public CJ2KRequest {
public:
    // window: resolution level, X0, Y0, X1, Y1 (inclusive).
    CJ2KROIRequest(const boost::shared_ptr<CJ2KObserver>& observer, const boost::shared_ptr<CJ2KImage>& image,
                   const int32_t window[5]);
    void Execute() override;
    std::string name() const override { return "ROIRequest"; }

protected:
    // model: sent with the first exchange only, when not null. Returns false when the
    // request failed (the window then went out with level -1).
    bool fetch(const std::string* model, int curlLine, int statusLine);

    bool m_done = false;
    int32_t m_window[5];
};
