#pragma once
// The one object through which the viewer reads and edits its XML documents: the
// configuration, stamp and PSSI documents, the registry of streamed images and the
// working roots. One recursive lock serialises PSSI access between the window thread
// and the annotation loader's thread.

#include "R2IVuzi/ImageStatusSource.h"
#include "image/VoiLutEntry.h"

#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct DicomTag;
class TiXmlDocument;
class TiXmlElement;
class TiXmlNode;

// One overlay item's DICOM tag, as the overlay configuration names it.
struct OverlayTagInfo {
    std::string group;
    std::string element;
    std::string vr;
};

struct OverlayFontInfo {
    std::string faceName;
    float size = 0.0f;
};

struct MenuItemInfo {
    std::string hotkey;
    int id = 0;
    std::u16string text;
};

// UTF-8 text to the wide strings the viewer shows.
std::u16string utf8ToWide(const char* utf8);

class CPssiXmlDao {
public:
    // Holds the recursive lock for its scope.
    class Lock {
    public:
        explicit Lock(const CPssiXmlDao& dao) : lock_(dao.mutex_) {}
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        boost::unique_lock<boost::recursive_mutex> lock_;
    };

    CPssiXmlDao();
    ~CPssiXmlDao();
    CPssiXmlDao(const CPssiXmlDao&) = delete;
    CPssiXmlDao& operator=(const CPssiXmlDao&) = delete;

    boost::recursive_mutex& recursiveMutex() const { return mutex_; }

    // Documents. Parsing always goes into a fresh document, since TinyXML appends to one
    // that has content. A superseded configuration or stamp document is freed at once
    // (nothing keeps nodes of them); a superseded PSSI document lives as long as some
    // holder from documentHold() (an image, a stack item, a grid) still points into it,
    // and its images leave the registry.
    void setConfigDocument(std::unique_ptr<TiXmlDocument> doc);
    void parseConfig(const std::string& utf8);
    // True also when no document is stored.
    bool hasConfigError() const;
    void setPssiDocument(std::unique_ptr<TiXmlDocument> doc);
    void parsePssi(const std::string& utf8);
    bool hasPssiError() const;
    bool hasPssiDocument() const;
    void setStampDocument(std::unique_ptr<TiXmlDocument> doc);
    void parseStamp(const std::string& utf8);
    bool hasStampError() const;
    // The PSSI document's "Root" element, or null.
    TiXmlElement* getRootElement() const;
    // Keeps the current PSSI document alive for whoever keeps node pointers into it.
    boost::shared_ptr<const void> documentHold() const;
    static std::string getLevelName(int level);
    // Parses outside text into the document. TinyXML steps over a multi-byte UTF-8
    // character whole, so a lead byte at the very end took it past the terminator into
    // whatever memory followed; the copy it parses ends in enough zero bytes to stop it.
    static void parseXmlText(TiXmlDocument& doc, const char* utf8);

    // Image registry: the first image registered under a target stays.
    boost::shared_ptr<IImageStatusSource> findImage(const std::string& target) const;
    void registerImage(const std::string& target, const boost::shared_ptr<IImageStatusSource>& image);

    // Working roots and the current node: both belong to one PSSI document, and a new
    // document empties them.
    void setCurrentNode(TiXmlNode* node) { currentNode_ = node; }
    TiXmlNode* getCurrentNode() const { return currentNode_; }
    void addWorkingRoot(TiXmlNode* node);
    void clearWorkingRoots();
    size_t getWorkingRootCount() const { return workingRoots_.size(); }
    TiXmlNode* getWorkingRoot(size_t index) const;
    static TiXmlNode* getNodeAt(std::vector<TiXmlNode*> list, size_t index);

    // Configuration readers; an empty optional when the element or its text is absent.
    std::optional<std::string> getLanguage() const;
    std::optional<int> getMaxLayout() const;
    std::optional<int> getWorkingMode() const;
    std::optional<int> getHangMode() const;
    std::optional<int> getWorkingTool() const;
    std::optional<int> getAnnTool() const;
    std::optional<int> getSelectMode() const;
    int getRetryTimes() const;
    int getPacketSize() const;
    std::u16string getResourceText(const std::string& key) const;
    // The same text, or an empty optional where getResourceText would give its placeholder.
    std::optional<std::u16string> findResourceText(const std::string& key) const;
    std::map<int, MenuItemInfo> getMenuItems() const;
    std::map<int, std::u16string> getStampNames(int firstCommand) const;
    // Decodes the data of the stamp items named currentStampName into currentStampBitmap.
    void loadCurrentStampData() const;

    // DICOM queries on an image node.
    std::string getObjectFile(const TiXmlNode* node) const;
    std::string getInstanceUID(const TiXmlNode* node) const;
    bool getDicomNodeInfo(const TiXmlNode* node, std::string& value, const std::string& group, const std::string& element) const;
    bool getDicomNodeInfo(const TiXmlNode* node, float& value, const std::string& group, const std::string& element) const;
    bool getDicomNodeInfo(const TiXmlNode* node, int& value, const std::string& group, const std::string& element) const;
    bool getPhotometricInterpretation(const TiXmlNode* node, std::string& value) const;
    bool getRescaleIntercept(const TiXmlNode* node, float& value) const;
    bool getRescaleSlope(const TiXmlNode* node, float& value) const;
    bool getPixelRepresentation(const TiXmlNode* node, int& value) const;
    std::string getModality(const TiXmlNode* node) const;
    std::string getImageStatusTag(const TiXmlNode* node) const;
    std::string getAnnotationTag(const TiXmlNode* node) const;
    bool getWindowCenter(const TiXmlNode* node, float& value) const;
    bool getWindowWidth(const TiXmlNode* node, float& value) const;
    // Row (vertical) spacing first; -1.0 where unknown.
    bool getPixelSpacing(const TiXmlNode* node, double& rowSpacing, double& columnSpacing) const;
    bool getModalityLUT(const TiXmlNode* node, VoiLutEntry& lut) const;
    bool getVOILUT(const TiXmlNode* node, std::map<int, VoiLutEntry>& luts) const;
    bool readLutItem(const TiXmlNode* item, int pixelRepresentation, VoiLutEntry& lut) const;

    // Overlay configuration (per modality, under "/Root/overlay").
    std::vector<TiXmlNode*> getOverlayTags(const TiXmlNode* image) const;
    OverlayTagInfo getTagAttributes(const TiXmlNode* overlayTag) const;
    // The tag's value on the image, else on its series, study or patient.
    std::u16string getTagValueByLevel(const TiXmlNode* image, const OverlayTagInfo& tag) const;
    // The Tag child (group, element) of the node itself, else of its nearest ancestor up
    // to three levels (an image's series, study, patient); never of another image.
    static const TiXmlElement* nearestTag(const TiXmlNode* node, const std::string& group, const std::string& element);
    int getIntByName(const TiXmlNode* node, const std::string& name) const;
    std::u16string getWideTextByName(const TiXmlNode* node, const std::string& name) const;
    OverlayFontInfo getOverlayFont() const;
    // Adds the overlay document's modalities that the PSSI document lacks.
    void updateOverlayConfig(const char* overlayText);

    // Hanging marks and level lookups. Every search covers the base's descendants only.
    int getHangingCount(const TiXmlNode* root, int level) const;
    std::vector<TiXmlNode*> getHangingNodeList(const TiXmlNode* root, int level) const;
    TiXmlNode* getLevelNode(const TiXmlNode* root, int level, int index, bool hangingOnly) const;
    TiXmlNode* findNodeByUID(const TiXmlNode* root, const char* expression, const std::string& uid) const;
    void setHangingDownward(TiXmlNode* node, int level, const std::string& value);
    void setHangingUpward(TiXmlNode* node, int level, const std::string& value);
    void insertStudy(const std::string& parentPatientUID, const std::string& oldUnclePatientUID,
        const std::string& studyUID, const char* studyXml);

    // Status document and annotation state.
    std::string getImageStatus();
    // Whether the last getImageStatus reported a change.
    bool isStatusModified() const { return statusModified_; }
    bool isAnnotated(const TiXmlNode* element) const;
    bool isParentAnnotated(const TiXmlNode* node) const;
    void configureImageAnnotation(const std::string& uid, const TiXmlElement* reply);
    void configureImageAnnotationTree(const std::string& uid, const TiXmlElement* reply);
    // Writes the PSSI document to "pssi.xml" in the current directory.
    void dumpPssi() const;

private:
    // The base's descendant elements named `name` in document order (with hanging="True"
    // when asked), at most `limit` of them. Iterative, so deep trees cannot exhaust the stack.
    static std::vector<TiXmlNode*> descendants(const TiXmlNode* base, const std::string& name, bool hangingOnly,
        size_t limit = static_cast<size_t>(-1));
    // The engine hands out const nodes of documents this object owns and edits.
    static TiXmlNode* editable(const TiXmlNode* node) { return const_cast<TiXmlNode*>(node); }
    void applyAnnotationElement(TiXmlNode* node, const TiXmlElement* reply);
    TiXmlDocument* freshDocument(std::unique_ptr<TiXmlDocument>& slot, const char* name);
    // Lets go of the PSSI document and of the images registered for it.
    void dropPssiDocument();
    // Frees the images of replaced documents that nothing else holds any more.
    void sweepReleasedImages();
    const TiXmlElement* configRoot() const;
    bool readWindow(const TiXmlNode* node, const DicomTag& tag, float& value) const;
    bool readLut(const TiXmlNode* item, int pixelRepresentation, bool refuse8Bit, VoiLutEntry& lut) const;

    mutable boost::recursive_mutex mutex_;
    mutable boost::mutex annotationMutex_;
    std::unique_ptr<TiXmlDocument> config_;
    std::unique_ptr<TiXmlDocument> stamp_;
    boost::shared_ptr<TiXmlDocument> pssi_;
    std::map<std::string, boost::shared_ptr<IImageStatusSource>> images_;
    // Images of replaced documents, kept until this object holds the last reference: an
    // image's annotations belong to the window thread, so it must not be freed on a loader
    // thread whose request happened to hold it last.
    std::vector<boost::shared_ptr<IImageStatusSource>> released_;
    std::vector<TiXmlNode*> workingRoots_;
    TiXmlNode* currentNode_ = nullptr;
    bool statusModified_ = false;
};
