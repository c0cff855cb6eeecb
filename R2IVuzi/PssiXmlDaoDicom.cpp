// DICOM queries and lookup-table readers on PSSI image elements. All of them hold the
// recursive lock, because the annotation loader's thread edits the same tree.
#include "R2IVuzi/PssiXmlDao.h"

#include "R2IVuzi/DicomTags.h"

#include "diagnostics/Logging.h"
#include "xpath/xpath_processor.h"

#include <boost/lexical_cast.hpp>
#include <tinyxml.h>

#include <cmath>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\PssiXmlDao")

namespace {

const char* textOf(const TiXmlNode* n)
{
    const TiXmlNode* text = n ? n->FirstChild() : nullptr;
    return text ? text->Value() : nullptr;
}

const char* selectedText(const TiXmlNode* base, const char* expression)
{
    return textOf(XPath::first_xpath_node(base, expression));
}

// DICOM pads numbers with blanks, which the conversion would reject.
std::string trimmed(const std::string& s)
{
    const size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const size_t last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

std::vector<std::string> splitValues(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t bs = text.find('\\', start);
        parts.push_back(trimmed(text.substr(start, bs == std::string::npos ? std::string::npos : bs - start)));
        if (bs == std::string::npos)
            return parts;
        start = bs + 1;
    }
}

double knownSpacing(double value)
{
    return std::isfinite(value) && value > 0.0 ? value : -1.0;
}

} // namespace

std::string CPssiXmlDao::getObjectFile(const TiXmlNode* node) const
{
    if (!node)
        return std::string();
    Lock lock(*this);
    const char* text = selectedText(node, "Image/ObjectFile");
    return text ? text : std::string();
}

std::string CPssiXmlDao::getInstanceUID(const TiXmlNode* node) const
{
    if (!node)
        return std::string();
    Lock lock(*this);
    const char* text = selectedText(node, "Image/InstanceUID");
    return text ? text : std::string();
}

namespace {

template <class T> bool convertInto(const std::string& text, T& value)
{
    value = boost::lexical_cast<T>(trimmed(text));
    return true;
}

template <> bool convertInto<std::string>(const std::string& text, std::string& value)
{
    value = text;
    return true;
}

} // namespace

const TiXmlElement* CPssiXmlDao::nearestTag(const TiXmlNode* node, const std::string& group,
    const std::string& element)
{
    const TiXmlNode* level = node;
    for (int step = 0; step < 4 && level && level->ToElement(); ++step, level = level->Parent())
        for (const TiXmlElement* t = level->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag")) {
            const char* g = t->Attribute("group");
            const char* e = t->Attribute("element");
            if (g && e && group == g && element == e)
                return t;
        }
    return nullptr;
}

template <class T>
static bool dicomNodeInfo(const CPssiXmlDao& dao, const TiXmlNode* node, T& value, const std::string& group,
    const std::string& element)
{
    CPssiXmlDao::Lock lock(dao);
    try {
        const char* text = textOf(dao.nearestTag(node, group, element));
        if (!text)
            return false;
        T converted;
        convertInto(text, converted);
        value = converted;
        return true;
    } catch (...) {
        ORBEL_LOG_AT(INFO, 1258) << "Exception happened in getDicomNodeInfo";
        return false;
    }
}

bool CPssiXmlDao::getDicomNodeInfo(const TiXmlNode* node, std::string& value, const std::string& group,
    const std::string& element) const
{
    return dicomNodeInfo(*this, node, value, group, element);
}

bool CPssiXmlDao::getDicomNodeInfo(const TiXmlNode* node, float& value, const std::string& group,
    const std::string& element) const
{
    return dicomNodeInfo(*this, node, value, group, element);
}

bool CPssiXmlDao::getDicomNodeInfo(const TiXmlNode* node, int& value, const std::string& group,
    const std::string& element) const
{
    return dicomNodeInfo(*this, node, value, group, element);
}

bool CPssiXmlDao::getPhotometricInterpretation(const TiXmlNode* node, std::string& value) const
{
    return getDicomNodeInfo(node, value, dicom::PhotometricInterpretation.group, dicom::PhotometricInterpretation.element);
}

bool CPssiXmlDao::getRescaleIntercept(const TiXmlNode* node, float& value) const
{
    return getDicomNodeInfo(node, value, dicom::RescaleIntercept.group, dicom::RescaleIntercept.element);
}

bool CPssiXmlDao::getRescaleSlope(const TiXmlNode* node, float& value) const
{
    return getDicomNodeInfo(node, value, dicom::RescaleSlope.group, dicom::RescaleSlope.element);
}

bool CPssiXmlDao::getPixelRepresentation(const TiXmlNode* node, int& value) const
{
    return getDicomNodeInfo(node, value, dicom::PixelRepresentation.group, dicom::PixelRepresentation.element);
}

std::string CPssiXmlDao::getModality(const TiXmlNode* node) const
{
    Lock lock(*this);
    const char* text = node ? selectedText(node->Parent(), dicom::tagPath("//Tag", dicom::Modality).c_str()) : nullptr;
    return text ? text : std::string();
}

std::string CPssiXmlDao::getImageStatusTag(const TiXmlNode* node) const
{
    Lock lock(*this);
    const char* text = selectedText(node, dicom::tagPath("Image/Tag", dicom::StoredDisplayState).c_str());
    return text ? text : std::string();
}

std::string CPssiXmlDao::getAnnotationTag(const TiXmlNode* node) const
{
    Lock lock(*this);
    const char* text = selectedText(node, dicom::tagPath("Image/Tag", dicom::StoredAnnotation).c_str());
    return text ? text : std::string();
}

bool CPssiXmlDao::readWindow(const TiXmlNode* node, const DicomTag& window, float& value) const
{
    Lock lock(*this);
    const TiXmlNode* tag = nearestTag(node, window.group, window.element);
    if (!tag)
        return false;
    const char* text = textOf(tag);
    if (!text)
        return true;
    value = boost::lexical_cast<float>(splitValues(text).front());
    return true;
}

bool CPssiXmlDao::getWindowCenter(const TiXmlNode* node, float& value) const
{
    return readWindow(node, dicom::WindowCenter, value);
}

bool CPssiXmlDao::getWindowWidth(const TiXmlNode* node, float& value) const
{
    return readWindow(node, dicom::WindowWidth, value);
}

bool CPssiXmlDao::getPixelSpacing(const TiXmlNode* node, double& rowSpacing, double& columnSpacing) const
{
    Lock lock(*this);
    rowSpacing = -1.0;
    columnSpacing = -1.0;
    const TiXmlNode* tag = nearestTag(node, dicom::PixelSpacing.group, dicom::PixelSpacing.element);
    if (!tag)
        return false;
    const char* text = textOf(tag);
    if (!text)
        return true;
    const std::vector<std::string> parts = splitValues(text);
    rowSpacing = knownSpacing(boost::lexical_cast<double>(parts[0]));
    if (parts.size() > 1)
        columnSpacing = knownSpacing(boost::lexical_cast<double>(parts[1]));
    return true;
}

bool CPssiXmlDao::readLut(const TiXmlNode* item, int pixelRepresentation, bool refuse8Bit, VoiLutEntry& lut) const
{
    Lock lock(*this);
    const char* descriptor = selectedText(item, dicom::tagPath("Tag/Tag", dicom::LUTDescriptor).c_str());
    if (!descriptor)
        return false;
    const std::vector<std::string> parts = splitValues(descriptor);
    if (parts.size() != 3)
        return false;
    lut.entryCount = boost::lexical_cast<int32_t>(parts[0]);
    if (lut.entryCount == 0)
        lut.entryCount = 0x10000;
    const int64_t first = boost::lexical_cast<int32_t>(parts[1]);
    // Two's-complement wrap keeps a nonsense descriptor from overflowing.
    lut.firstValueMapped = static_cast<int32_t>(static_cast<uint32_t>(first - (pixelRepresentation == 1 ? 32768 : 0)));
    lut.bitsPerEntry = boost::lexical_cast<int32_t>(parts[2]);
    if (refuse8Bit && lut.bitsPerEntry == 8)
        return false;
    std::string data;
    if (!getDicomNodeInfo(item, data, dicom::LUTData.group, dicom::LUTData.element))
        return false;
    // A record filled before starts over rather than growing past its count.
    lut.data.clear();
    for (const std::string& part : splitValues(data))
        lut.data.push_back(boost::lexical_cast<int32_t>(part));
    return lut.data.size() == static_cast<size_t>(lut.entryCount);
}

bool CPssiXmlDao::readLutItem(const TiXmlNode* item, int pixelRepresentation, VoiLutEntry& lut) const
{
    return readLut(item, pixelRepresentation, false, lut);
}

namespace {

// The first item of a sequence element: its first Tag child with group 0xFFFE,
// element 0xE000.
const TiXmlElement* firstItem(const TiXmlNode* sequence)
{
    for (const TiXmlElement* e = sequence->FirstChildElement("Tag"); e; e = e->NextSiblingElement("Tag")) {
        const char* g = e->Attribute("group");
        const char* el = e->Attribute("element");
        if (g && el && std::string(g) == dicom::Item.group && std::string(el) == dicom::Item.element)
            return e;
    }
    return nullptr;
}

} // namespace

bool CPssiXmlDao::getModalityLUT(const TiXmlNode* node, VoiLutEntry& lut) const
{
    Lock lock(*this);
    const TiXmlNode* sequence = XPath::first_xpath_node(node, dicom::tagPath("Image/Tag", dicom::ModalityLUTSequence).c_str());
    if (!sequence)
        return false;
    // The sequence's own item: a "//" query here would reach the image's VOI items too.
    const TiXmlElement* item = firstItem(sequence);
    if (!item)
        return false;
    int pixelRepresentation = 0;
    if (!getPixelRepresentation(node, pixelRepresentation))
        pixelRepresentation = 0;
    return readLut(item, pixelRepresentation, true, lut);
}

bool CPssiXmlDao::getVOILUT(const TiXmlNode* node, std::map<int, VoiLutEntry>& luts) const
{
    Lock lock(*this);
    const TiXmlNode* sequence = XPath::first_xpath_node(node, dicom::tagPath("Image/Tag", dicom::VOILUTSequence).c_str());
    if (!sequence)
        return false;
    const std::string items = dicom::tagPath("Image/Tag/Tag", dicom::Item);
    XPath::xpath_processor p(sequence, items.c_str());
    const unsigned count = p.compute_node_set_count();
    if (count == 0)
        return false;
    int pixelRepresentation = 0;
    if (!getPixelRepresentation(node, pixelRepresentation))
        pixelRepresentation = 0;
    for (unsigned k = 0; k < count; ++k)
        if (const TiXmlNode* item = p.get_xpath_node(k))
            readLutItem(item, pixelRepresentation, luts[static_cast<int>(k)]);
    return true;
}
