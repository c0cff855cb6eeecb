// A region request that first tells the server what the cache holds, then marks the
// loader ready for region requests.
#pragma once

#include "R2IVuzi/J2KROIRequest.h"

class CJ2KUpdateServerModelRequest : public CJ2KROIRequest {
public:
    CJ2KUpdateServerModelRequest(const boost::shared_ptr<CJ2KObserver>& observer,
                                 const boost::shared_ptr<CJ2KImage>& image, const int32_t window[5],
                                 const std::string& model);
    void Execute() override;
    std::string name() const override { return "UpdateServerModelRequest"; }

private:
    std::string m_model;
};
