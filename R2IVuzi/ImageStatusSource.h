#pragma once
// What the image status document reads from a registered streamed image.

#include <string>

class IImageStatusSource {
public:
    virtual ~IImageStatusSource() = default;

    virtual std::string getInstanceUID() const = 0;
    // The image's current display state as hexadecimal text.
    virtual std::string getDisplayStateText() const = 0;
    // The display-state text reported to the page last time.
    virtual std::string getLastReportedText() const = 0;
    virtual void setLastReportedText(const std::string& text) = 0;
    // The image's annotations as hexadecimal text.
    virtual std::string getAnnotationText() const = 0;
    virtual bool isAnnotationModified() const = 0;
    virtual void setAnnotationModified(bool modified) = 0;
    // Why the image could not be shown; empty while nothing has failed.
    virtual std::string getFailure() const { return std::string(); }
};
