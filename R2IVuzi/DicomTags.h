// The DICOM attributes the viewer reads from PSSI documents, written as the documents
// write them ("0x0028", "0x1050"), each under the name a DICOM reader would use; and the
// overlay items that show the viewer's own values instead of an attribute.
#pragma once

#include <string>

struct DicomTag {
    const char* group;
    const char* element;
};

namespace dicom {

constexpr DicomTag Modality{"0x0008", "0x0060"};
constexpr DicomTag SliceThickness{"0x0018", "0x0050"};
constexpr DicomTag RepetitionTime{"0x0018", "0x0080"};
constexpr DicomTag EchoTime{"0x0018", "0x0081"};
constexpr DicomTag InversionTime{"0x0018", "0x0082"};
constexpr DicomTag GantryDetectorTilt{"0x0018", "0x1120"};
constexpr DicomTag FlipAngle{"0x0018", "0x1314"};
constexpr DicomTag PhotometricInterpretation{"0x0028", "0x0004"};
constexpr DicomTag PixelSpacing{"0x0028", "0x0030"};
constexpr DicomTag PixelRepresentation{"0x0028", "0x0103"};
constexpr DicomTag WindowCenter{"0x0028", "0x1050"};
constexpr DicomTag WindowWidth{"0x0028", "0x1051"};
constexpr DicomTag RescaleIntercept{"0x0028", "0x1052"};
constexpr DicomTag RescaleSlope{"0x0028", "0x1053"};
constexpr DicomTag ModalityLUTSequence{"0x0028", "0x3000"};
constexpr DicomTag LUTDescriptor{"0x0028", "0x3002"};
constexpr DicomTag LUTData{"0x0028", "0x3006"};
constexpr DicomTag VOILUTSequence{"0x0028", "0x3010"};
constexpr DicomTag Item{"0xFFFE", "0xE000"};

// Private attributes the viewer keeps with an image: its display state and annotations.
constexpr DicomTag StoredDisplayState{"0x0011", "0x101B"};
constexpr DicomTag StoredAnnotation{"0x0011", "0x101D"};

// Overlay items of the viewer's own values.
constexpr const char* kOverlayValueGroup = "0x1901";
constexpr DicomTag OverlayEmpty{"0x1901", "0x0001"};
constexpr DicomTag OverlayWindowText{"0x1901", "0x0003"};
constexpr DicomTag OverlayZoom{"0x1901", "0x0004"};
constexpr DicomTag OverlayEmptyToo{"0x1901", "0x0005"};
constexpr DicomTag OverlayOrientationLeft{"0x1901", "0x0006"};
constexpr DicomTag OverlayOrientationTop{"0x1901", "0x0007"};
constexpr DicomTag OverlayWholeNumberFirst{"0x1901", "0x000D"};
constexpr DicomTag OverlayWholeNumberSecond{"0x1901", "0x000E"};
constexpr DicomTag OverlayWholeNumberThird{"0x1901", "0x000F"};
// The picture item: "Y" draws the overlay picture.
constexpr DicomTag OverlayPicture{"0x1301", "0x0002"};

// The location path selecting tag t among the Tag elements `steps` ("Image/Tag",
// "//Tag") reaches.
inline std::string tagPath(const std::string& steps, const DicomTag& t)
{
    return steps + "[@group='" + t.group + "' and @element='" + t.element + "']";
}

} // namespace dicom
