// Asks the annotation server for one image's annotations and merges the reply into the
// PSSI document.
#pragma once

#include "R2IVuzi/J2KRequest.h"

class CJ2KAnnotationRequest : public CJ2KRequest {
public:
    CJ2KAnnotationRequest(const boost::shared_ptr<CJ2KObserver>& observer, const std::string& key,
                          const std::string& uid, bool detail);
    void Execute() override;
    std::string name() const override { return "CJ2KAnnotationRequest"; }

    const std::string& getKey() const { return m_key; }
    const std::string& getUid() const { return m_uid; }
    bool getDetail() const { return m_detail; }

    // Parses a status-200 reply body and merges this image's part of it into the PSSI
    // document; a body that is not XML is logged and merges nothing.
    void handleReply(const char* body);

private:
    std::string m_key;
    std::string m_uid;
    bool m_detail;
};
