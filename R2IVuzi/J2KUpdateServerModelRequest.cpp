#include "R2IVuzi/J2KUpdateServerModelRequest.h"

#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KObserver.h"

CJ2KUpdateServerModelRequest::CJ2KUpdateServerModelRequest(const boost::shared_ptr<CJ2KObserver>& observer,
                                                           const boost::shared_ptr<CJ2KImage>& image,
                                                           const int32_t window[5], const std::string& model)
    : CJ2KROIRequest(observer, image, window), m_model(model)
{
}

void CJ2KUpdateServerModelRequest::Execute()
{
    if (fetch(&m_model, 144, 156))
        m_observer->setLoaderReady(m_image->getTarget());
}
