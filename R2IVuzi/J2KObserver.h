// The face a grid shows to request and loader code. The notifications are called on
// loader threads and run on the user-interface thread while the caller waits; the
// accessors run on the caller's thread.
#pragma once

#include "R2IVuzi/J2KException.h"

#include <boost/shared_ptr.hpp>

#include <memory>
#include <string>

class CJ2KImageLoader;
class CJ2KAnnotationLoader;
class CPssiXmlDao;

class CJ2KObserver {
public:
    virtual ~CJ2KObserver() = default;

    virtual void startRenderTimer(const std::string& target) = 0;
    // region: resolution level, x0, y0, x1, y1; level -1 carries no region.
    virtual void dataArrived(const std::string& target, const int region[5]) = 0;
    virtual void updateView() = 0;
    virtual void startProcess(const std::string& target) = 0;
    virtual void startPresentation(const std::string& target) = 0;
    virtual void updateRegion(const std::string& target, const int region[5]) = 0;
    virtual void setLoaderReady(const std::string& target) = 0;
    // kind: 0 JPIP server connection, 1 annotation server, 2 open stream. The receiver
    // owns the exception.
    virtual void reportError(int kind, std::unique_ptr<CJ2KException> error) = 0;
    virtual CJ2KImageLoader* getImageLoader() = 0;
    virtual void setImageLoader(CJ2KImageLoader* loader) = 0;
    virtual std::string getTarget() = 0;
    virtual void setTarget(std::string target) = 0;
    virtual boost::shared_ptr<CPssiXmlDao> getPssiXmlDao() = 0;
    virtual boost::shared_ptr<CJ2KAnnotationLoader> getAnnotationLoader() = 0;
};
