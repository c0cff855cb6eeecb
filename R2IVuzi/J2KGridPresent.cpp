// Presentation: once per image, what the PSSI document says about showing it (overlay
// layout, lookup tables, DICOM display values, stored display state and annotations).
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KGrid")

LRESULT CJ2KGrid::OnStartPresentation(const std::string& target)
{
    if (!m_hWnd)
        return 0;
    try {
        presentImage(target);
    } catch (...) {
        ORBEL_LOG(INFO) << "Exception happened in OnStartPresentation";
        m_annotationFailed = true;
        InvalidateRect(m_hWnd, nullptr, TRUE);
    }
    return 0;
}

void CJ2KGrid::presentImage(const std::string& target)
{
    ORBEL_LOG(INFO) << "Start Presentation";
    // The message's target decides: the image may be shown by another grid as well.
    boost::shared_ptr<CJ2KImage> image = boost::dynamic_pointer_cast<CJ2KImage>(getPssiXmlDao()->findImage(target));
    if (image && !image->isPresented()) {
        prepareOverlayInfo(image);
        prepareDicomLUT(image);
        prepareDicomInfo(image);
        prepareImageStatus(image);
        prepareImageAnnotation(image);
        if (image == m_image)
            syncAnnotationGeometry();
        image->setPresented(true);
    }
    if (m_hWnd)
        InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CJ2KGrid::prepareDicomLUT(const boost::shared_ptr<CJ2KImage>& image)
{
    ORBEL_LOG(INFO) << "prepareDicomLUT";
    boost::shared_ptr<CPssiXmlDao> dao = getPssiXmlDao();
    CImageBase& base = image->getImageBase();
    if (dao->getModalityLUT(image->getElement(), base.GetModalityLut()))
        base.EnableModalityLut(true);
    if (dao->getVOILUT(image->getElement(), base.GetVoiLuts()))
        base.SetVoiLutEnabled(true);
}

void CJ2KGrid::prepareDicomInfo(const boost::shared_ptr<CJ2KImage>& image)
{
    ORBEL_LOG(INFO) << "prepareDicomInfo";
    boost::shared_ptr<CPssiXmlDao> dao = getPssiXmlDao();
    const TiXmlNode* node = image->getElement();
    CImageBase& base = image->getImageBase();
    DicomRecord& dicom = base.GetPhotometricInterpretation();
    // Each reader leaves the member alone when its tag is absent.
    dao->getPhotometricInterpretation(node, dicom.photometricInterpretation);
    dao->getPixelRepresentation(node, dicom.pixelRepresentation);
    dao->getRescaleIntercept(node, dicom.rescaleIntercept);
    dao->getRescaleSlope(node, dicom.rescaleSlope);
    dao->getWindowCenter(node, dicom.windowCentre);
    dao->getWindowWidth(node, dicom.windowWidth);
    double row = -1.0, column = -1.0;
    if (dao->getPixelSpacing(node, row, column)) {
        dicom.pixelSpacingRow = row;
        dicom.pixelSpacingColumn = column;
    }
    base.ApplyDicomWindow();
}

void CJ2KGrid::prepareImageStatus(const boost::shared_ptr<CJ2KImage>& image)
{
    ORBEL_LOG(INFO) << "prepareImageStatus";
    const std::string status = getPssiXmlDao()->getImageStatusTag(image->getElement());
    CImageBase& base = image->getImageBase();
    if (!status.empty()) {
        image->setStatus(status);
        base.SetDisplayStateText(status);
    } else {
        std::string current;
        image->setStatus(base.GetDisplayStateText(current));
    }
    updateView();
}

void CJ2KGrid::prepareImageAnnotation(const boost::shared_ptr<CJ2KImage>& image)
{
    ORBEL_LOG(INFO) << "prepareImageAnnotation";
    const std::string text = getPssiXmlDao()->getAnnotationTag(image->getElement());
    OrbelAnnWrapper& annotations = image->getAnnWrapper();
    if (!text.empty()) {
        image->setStoredAnnotation(text);
        annotations.LoadAnnotationText(text);
    } else {
        image->setStoredAnnotation(annotations.GetAnnotationText());
    }
}
