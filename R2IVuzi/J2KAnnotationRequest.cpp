#include "R2IVuzi/J2KAnnotationRequest.h"

#include "R2IVuzi/J2KImage.h"

CJ2KAnnotationRequest::CJ2KAnnotationRequest(const boost::shared_ptr<CJ2KObserver>& observer,
                                             const std::string& key, const std::string& uid, bool detail)
    : CJ2KRequest(observer, boost::shared_ptr<CJ2KImage>()), m_key(key), m_uid(uid), m_detail(detail)
{
}
