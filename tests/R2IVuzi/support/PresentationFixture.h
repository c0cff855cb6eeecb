// presentation_fixture.py's CT image on the real road: its folder, what the script
// expects presentation to show, and a GridHarness loaded with its PSSI document.
#pragma once

#include "tests/R2IVuzi/support/GridHarness.h"

#include <string>
#include <vector>

namespace gridtest {

struct PresentationExpected {
    struct Item {
        std::string group, element, prefix, suffix, text;
        int gridx = 0, gridy = 0, offsetx = 0, offsety = 0;
    };
    std::string uid, status, annotation, window, replyWindow;
    int width = 0, height = 0;
    std::vector<Item> items;       // in document order
    std::vector<int> hounsfield;   // row by row
    int signedIntercept = 0;       // ctu_1.jp2's: its values plus this are `hounsfield`
};

// The fixture folder, made once per test program; empty when it failed.
const std::string& presentationDir();
const PresentationExpected& presentationExpected();

// A 128 x 128 cell served from the fixture folder (serverArgs as GridHarness takes them),
// holding the fixture's document and configuration instead of the generated ones. The
// image element's "annotated" mark is `annotated`, or absent when null.
class PresentationCell : public GridHarness {
public:
    explicit PresentationCell(const char* annotated, const std::vector<std::string>& serverArgs = {});
    // Shows the image and waits until it is presented, opened and its views have settled.
    bool showPresented();
    boost::shared_ptr<CJ2KImage> image() const;
    HangingItem ctItem;
};

} // namespace gridtest
