// The status document the page reads back, the "annotated" marks, the merge of the
// annotation server's reply and the "pssi.xml" dump.
#include "R2IVuzi/PssiXmlDao.h"

#include "diagnostics/Logging.h"

#include <boost/thread/lock_guard.hpp>
#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <memory>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\PssiXmlDao")

std::string CPssiXmlDao::getImageStatus()
{
    statusModified_ = false;
    TiXmlDocument doc("status.xml");
    TiXmlElement list("ImageList");
    for (const auto& entry : images_) {
        IImageStatusSource* image = entry.second.get();
        if (!image)
            continue;
        const std::string current = image->getDisplayStateText();
        const std::string last = image->getLastReportedText();
        const std::string annotation = image->getAnnotationText();
        const bool modified = image->isAnnotationModified();
        const std::string failure = image->getFailure();

        TiXmlElement element("Image");
        element.SetAttribute("InstanceUID", image->getInstanceUID());
        if (current != last) {
            element.SetAttribute("Status", current);
            image->setLastReportedText(current);
            statusModified_ = true;
        }
        if (modified) {
            element.SetAttribute("Annotation", annotation);
            image->setAnnotationModified(false);
            statusModified_ = true;
        }
        // Last, so readers that know only the attributes above are not disturbed.
        if (!failure.empty())
            element.SetAttribute("Failed", failure);
        list.InsertEndChild(element);
    }
    doc.InsertEndChild(list);
    TiXmlPrinter printer;
    printer.SetIndent("");
    printer.SetLineBreak("\n");
    doc.Accept(&printer);
    return printer.CStr();
}

bool CPssiXmlDao::isAnnotated(const TiXmlNode* element) const
{
    const TiXmlElement* e = element ? element->ToElement() : nullptr;
    if (!e)
        return false;
    // Always the recursive lock first, then the annotation mutex: the merge writes the
    // attribute under the recursive lock.
    Lock lock(*this);
    boost::lock_guard<boost::mutex> annotationLock(annotationMutex_);
    // Only the exact "False" is not yet merged; so is nothing else, an absent mark included.
    const char* value = e->Attribute("annotated");
    return !value || std::strcmp(value, "False") != 0;
}

bool CPssiXmlDao::isParentAnnotated(const TiXmlNode* node) const
{
    if (!node)
        return false;
    Lock lock(*this);
    return isAnnotated(node->Parent());
}

void CPssiXmlDao::applyAnnotationElement(TiXmlNode* node, const TiXmlElement* reply)
{
    TiXmlElement* element = node ? node->ToElement() : nullptr;
    if (!element || !reply)
        return;
    for (TiXmlElement* t = element->FirstChildElement("Tag"); t;) {
        TiXmlElement* next = t->NextSiblingElement("Tag");
        element->RemoveChild(t);
        t = next;
    }
    // Only the reply's own Tags: nested items travel inside their sequence.
    for (const TiXmlElement* t = reply->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
        element->InsertEndChild(*t);
    element->SetAttribute("annotated", "True");
}

void CPssiXmlDao::configureImageAnnotation(const std::string& uid, const TiXmlElement* reply)
{
    if (uid.empty() || !reply)
        return;
    Lock lock(*this);
    applyAnnotationElement(findNodeByUID(getRootElement(), "//Image", uid), reply);
}

void CPssiXmlDao::configureImageAnnotationTree(const std::string& uid, const TiXmlElement* reply)
{
    if (uid.empty() || !reply)
        return;
    Lock lock(*this);
    TiXmlNode* node = findNodeByUID(getRootElement(), "//Image", uid);
    const TiXmlNode* level = reply;
    // Image, series, study, patient, as long as both trees have an element there.
    for (int step = 0; step < 4 && node && node->ToElement() && level && level->ToElement(); ++step) {
        applyAnnotationElement(node, level->ToElement());
        node = node->Parent();
        level = level->Parent();
    }
}

void CPssiXmlDao::dumpPssi() const
{
    Lock lock(*this);
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen("pssi.xml", "wt"), &std::fclose);
    if (!file) {
        ORBEL_LOG(ERROR) << "Cannot write pssi.xml";
        return;
    }
    if (pssi_)
        pssi_->Print(file.get(), 0);
}
