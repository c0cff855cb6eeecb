#include "tests/R2IVuzi/support/PresentationFixture.h"

#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/PssiXmlDao.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <tinyxml.h>

#include <fstream>
#include <string>
#include <iterator>

namespace gridtest {

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// Numbers read as text: the tree's own integer reading warns in optimised builds.
int number(const boost::property_tree::ptree& tree, const char* key)
{
    return std::stoi(tree.get<std::string>(key));
}

} // namespace

const std::string& presentationDir()
{
    static const std::string dir = makeFixture("presentation_fixture.py", "presentation-fixture");
    return dir;
}

const PresentationExpected& presentationExpected()
{
    static const PresentationExpected expected = [] {
        PresentationExpected e;
        if (presentationDir().empty())
            return e;
        boost::property_tree::ptree tree;
        boost::property_tree::read_json(presentationDir() + "/expected.json", tree);
        e.uid = tree.get<std::string>("uid");
        e.status = tree.get<std::string>("status");
        e.annotation = tree.get<std::string>("annotation");
        e.window = tree.get<std::string>("window");
        e.replyWindow = tree.get<std::string>("reply_window");
        e.width = number(tree, "width");
        e.height = number(tree, "height");
        e.signedIntercept = number(tree, "signed_intercept");
        for (const auto& child : tree.get_child("items")) {
            const auto& t = child.second;
            PresentationExpected::Item item;
            item.group = t.get<std::string>("group");
            item.element = t.get<std::string>("element");
            item.prefix = t.get<std::string>("prefix");
            item.suffix = t.get<std::string>("suffix");
            item.text = t.get<std::string>("text");
            item.gridx = number(t, "gridx");
            item.gridy = number(t, "gridy");
            item.offsetx = number(t, "offsetx");
            item.offsety = number(t, "offsety");
            e.items.push_back(item);
        }
        for (const auto& child : tree.get_child("hounsfield"))
            e.hounsfield.push_back(std::stoi(child.second.data()));
        return e;
    }();
    return expected;
}

PresentationCell::PresentationCell(const char* annotated, const std::vector<std::string>& serverArgs)
    : GridHarness(128, 128, serverArgs, true, presentationDir())
{
    std::string pssi = slurp(presentationDir() + "/pssi.xml");
    replaceAll(pssi, "@OBJECT@", server->imageTarget("ct"));
    if (annotated)
        replaceAll(pssi, "@ANNOTATED@", annotated);
    else
        replaceAll(pssi, " annotated=\"@ANNOTATED@\"", "");
    boost::shared_ptr<CPssiXmlDao> dao = frame->getPssiXmlDao();
    dao->parsePssi(pssi);
    dao->parseConfig(slurp(presentationDir() + "/config.xml"));
    frame->getAnnotationLoader()->setServerAddress(server->annotationAddress());
    images.clear();
    TiXmlElement* root = dao->getRootElement();
    ctItem.selected = true;
    ctItem.node = root ? dao->findNodeByUID(root, "//Image", presentationExpected().uid) : nullptr;
    ctItem.objectFile = server->imageTarget("ct");
    ctItem.instanceUID = presentationExpected().uid;
    images.push_back(ctItem.node);
}

boost::shared_ptr<CJ2KImage> PresentationCell::image() const
{
    return boost::dynamic_pointer_cast<CJ2KImage>(frame->getPssiXmlDao()->findImage(ctItem.objectFile));
}

bool PresentationCell::showPresented()
{
    const int before = grid->arrivals;
    grid->showStackItem(ctItem);
    return settle(before + 1) && until([&] {
               boost::shared_ptr<CJ2KImage> shown = image();
               CJ2KImageLoader* loader = grid->getImageLoader();
               return shown && shown->isPresented() && loader && loader->isReady();
           }) && settleView();
}

} // namespace gridtest
