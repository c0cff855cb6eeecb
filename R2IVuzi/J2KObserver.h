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

// What failed, as a loader reports it (the wParam of the error message). Any other value
// is a generic error.
enum class J2KErrorKind : int {
    Connection = 0,           // the JPIP server connection
    AnnotationConnection = 1, // the annotation server connection
    OpenStream = 2,           // the JPIP stream was not opened
    Parse = 3,                // the JPIP packets were not parsed
    StopQuietly = 5
};

inline int errorKind(J2KErrorKind kind) { return static_cast<int>(kind); }

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
    // kind: one of J2KErrorKind. The receiver owns the exception.
    virtual void reportError(int kind, std::unique_ptr<CJ2KException> error) = 0;
    virtual CJ2KImageLoader* getImageLoader() = 0;
    virtual void setImageLoader(CJ2KImageLoader* loader) = 0;
    virtual std::string getTarget() = 0;
    virtual void setTarget(std::string target) = 0;
    virtual boost::shared_ptr<CPssiXmlDao> getPssiXmlDao() = 0;
    virtual boost::shared_ptr<CJ2KAnnotationLoader> getAnnotationLoader() = 0;
};
