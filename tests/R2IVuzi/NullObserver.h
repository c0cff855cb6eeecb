// An observer without a window: it only hands out its image loader. Subclasses pick the
// notifications they need.
#pragma once

#include "R2IVuzi/J2KObserver.h"

class NullObserver : public CJ2KObserver {
public:
    explicit NullObserver(CJ2KImageLoader* l = nullptr) : loader(l) {}
    void startRenderTimer(const std::string&) override {}
    void dataArrived(const std::string&, const int*) override {}
    void updateView() override {}
    void startProcess(const std::string&) override {}
    void startPresentation(const std::string&) override {}
    void updateRegion(const std::string&, const int*) override {}
    void setLoaderReady(const std::string&) override {}
    void reportError(int, std::unique_ptr<CJ2KException>) override {}
    CJ2KImageLoader* getImageLoader() override { return loader; }
    void setImageLoader(CJ2KImageLoader* l) override { loader = l; }
    std::string getTarget() override { return std::string(); }
    void setTarget(std::string) override {}
    boost::shared_ptr<CPssiXmlDao> getPssiXmlDao() override { return {}; }
    boost::shared_ptr<CJ2KAnnotationLoader> getAnnotationLoader() override { return {}; }

    CJ2KImageLoader* loader;
};
