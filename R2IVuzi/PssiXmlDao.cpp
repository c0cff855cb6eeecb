#include "R2IVuzi/PssiXmlDao.h"

#include "platform/TextConv.h"

#include <tinyxml.h>

#include <algorithm>


std::u16string utf8ToWide(const char* utf8)
{
    if (!utf8 || !*utf8)
        return std::u16string();
    return Utf8ToUtf16(utf8);
}

CPssiXmlDao::CPssiXmlDao() = default;

CPssiXmlDao::~CPssiXmlDao()
{
    {
        Lock lock(*this);
        workingRoots_.clear();
    }
    // Emptied as the viewer always did; the documents themselves go with their owners.
    // Images or stack items that outlive this object may still hold the document.
    if (pssi_ && pssi_.use_count() == 1) {
        pssi_->ClearError();
        pssi_->Clear();
    }
    if (config_) {
        config_->ClearError();
        config_->Clear();
    }
    images_.clear();
    released_.clear();
}

TiXmlDocument* CPssiXmlDao::freshDocument(std::unique_ptr<TiXmlDocument>& slot, const char* name)
{
    // TinyXML's Parse appends to existing content, so a used document is replaced.
    if (!slot || slot->FirstChild() || slot->Error())
        slot.reset(new TiXmlDocument(name));
    return slot.get();
}

void CPssiXmlDao::dropPssiDocument()
{
    // Registered images belong to the document's elements: a later document with the same
    // targets gets images of its own, and the old ones go once nothing shows them.
    for (auto& entry : images_)
        released_.push_back(std::move(entry.second));
    images_.clear();
    sweepReleasedImages();
    pssi_.reset();
    workingRoots_.clear();
    currentNode_ = nullptr;
}

void CPssiXmlDao::sweepReleasedImages()
{
    released_.erase(std::remove_if(released_.begin(), released_.end(),
                                   [](const boost::shared_ptr<IImageStatusSource>& image) {
                                       return !image || image.use_count() == 1;
                                   }),
                    released_.end());
}

boost::shared_ptr<const void> CPssiXmlDao::documentHold() const
{
    Lock lock(*this);
    return pssi_;
}

void CPssiXmlDao::setConfigDocument(std::unique_ptr<TiXmlDocument> doc)
{
    config_ = std::move(doc);
}

void CPssiXmlDao::parseConfig(const std::string& utf8)
{
    parseXmlText(*freshDocument(config_, "Config.xml"), utf8.c_str());
}

bool CPssiXmlDao::hasConfigError() const
{
    return !config_ || config_->Error();
}

void CPssiXmlDao::setPssiDocument(std::unique_ptr<TiXmlDocument> doc)
{
    Lock lock(*this);
    dropPssiDocument();
    pssi_.reset(doc.release());
}

void CPssiXmlDao::parsePssi(const std::string& utf8)
{
    Lock lock(*this);
    if (!pssi_ || pssi_->FirstChild() || pssi_->Error()) {
        dropPssiDocument();
        pssi_.reset(new TiXmlDocument("BasePssi.xml"));
    }
    workingRoots_.clear();
    currentNode_ = nullptr;
    parseXmlText(*pssi_, utf8.c_str());
}

bool CPssiXmlDao::hasPssiError() const
{
    return !pssi_ || pssi_->Error();
}

bool CPssiXmlDao::hasPssiDocument() const
{
    return pssi_ != nullptr;
}

void CPssiXmlDao::setStampDocument(std::unique_ptr<TiXmlDocument> doc)
{
    stamp_ = std::move(doc);
}

void CPssiXmlDao::parseStamp(const std::string& utf8)
{
    parseXmlText(*freshDocument(stamp_, "stampConfig.xml"), utf8.c_str());
}

bool CPssiXmlDao::hasStampError() const
{
    return !stamp_ || stamp_->Error();
}

TiXmlElement* CPssiXmlDao::getRootElement() const
{
    Lock lock(*this);
    return pssi_ ? pssi_->FirstChildElement() : nullptr;
}

void CPssiXmlDao::parseXmlText(TiXmlDocument& doc, const char* utf8)
{
    std::string padded(utf8 ? utf8 : "");
    padded.append(4, '\0');
    doc.Parse(padded.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
}

std::string CPssiXmlDao::getLevelName(int level)
{
    static const char* const kNames[] = {"Frame", "Image", "Series", "Study", "Patient", "Root"};
    if (level < 0 || level > 5)
        return std::string();
    return kNames[level];
}

boost::shared_ptr<IImageStatusSource> CPssiXmlDao::findImage(const std::string& target) const
{
    auto it = images_.find(target);
    return it == images_.end() ? boost::shared_ptr<IImageStatusSource>() : it->second;
}

void CPssiXmlDao::registerImage(const std::string& target, const boost::shared_ptr<IImageStatusSource>& image)
{
    sweepReleasedImages();
    if (!target.empty())
        images_.insert(std::make_pair(target, image));
}

void CPssiXmlDao::addWorkingRoot(TiXmlNode* node)
{
    Lock lock(*this);
    workingRoots_.push_back(node);
}

void CPssiXmlDao::clearWorkingRoots()
{
    Lock lock(*this);
    workingRoots_.clear();
}

TiXmlNode* CPssiXmlDao::getWorkingRoot(size_t index) const
{
    return index < workingRoots_.size() ? workingRoots_[index] : nullptr;
}

TiXmlNode* CPssiXmlDao::getNodeAt(std::vector<TiXmlNode*> list, size_t index)
{
    return index < list.size() ? list[index] : nullptr;
}
