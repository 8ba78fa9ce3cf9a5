#include "support/heavy_pdfs.hpp"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "support/fixtures.hpp"

namespace testsupport {

namespace {

// An inch square, so that the page's time limit is the shortest there is.
std::string OneInchPage(const std::function<void(QPDF&, QPDFObjectHandle page)>& change)
{
    std::string pdf = MakePdf({PdfPage{0, 0, 72, 72, 0, "x"}});
    QPDF qpdf;
    qpdf.processMemoryFile("doc", pdf.data(), pdf.size());
    change(qpdf, qpdf.getAllPages().at(0));
    QPDFWriter writer(qpdf);
    writer.setOutputMemory();
    // Streams as they are: a content stream may inflate to hundreds of megabytes.
    writer.setDecodeLevel(qpdf_dl_none);
    writer.setCompressStreams(false);
    writer.write();
    std::shared_ptr<Buffer> out = writer.getBufferSharedPointer();
    return std::string(reinterpret_cast<char*>(out->getBuffer()), out->getSize());
}

// `head`, then `piece` `times` over, Flate-compressed a piece at a time.
std::string Deflated(const std::string& head, const std::string& piece, int times)
{
    z_stream zs{};
    deflateInit(&zs, Z_BEST_SPEED);
    std::string compressed;
    std::vector<unsigned char> out(1 << 16);
    const auto feed = [&](const std::string& in, int flush) {
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        zs.avail_in = static_cast<uInt>(in.size());
        do {
            zs.next_out = out.data();
            zs.avail_out = static_cast<uInt>(out.size());
            deflate(&zs, flush);
            compressed.append(reinterpret_cast<char*>(out.data()), out.size() - zs.avail_out);
        } while (zs.avail_out == 0);
    };
    feed(head, Z_NO_FLUSH);
    // Many pieces a call, so that a short piece costs no more than a long one.
    std::string block;
    const int perBlock = std::max<int>(1, static_cast<int>((1 << 20) / std::max<size_t>(1, piece.size())));
    for (int i = 0; i < perBlock; ++i) block += piece;
    for (int done = 0; done < times; done += perBlock) {
        const int now = std::min(perBlock, times - done);
        feed(now == perBlock ? block : block.substr(0, piece.size() * now), Z_NO_FLUSH);
    }
    feed("", Z_FINISH);
    deflateEnd(&zs);
    return compressed;
}

QPDFObjectHandle Form(QPDF& qpdf, const std::string& content, QPDFObjectHandle inner)
{
    QPDFObjectHandle form = QPDFObjectHandle::newStream(&qpdf, content);
    QPDFObjectHandle dict = form.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    dict.replaceKey("/BBox", QPDFObjectHandle::parse("[0 0 72 72]"));
    if (!inner.isNull()) {
        QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
        xobjects.replaceKey("/F", inner);
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/XObject", xobjects);
        dict.replaceKey("/Resources", resources);
    }
    return form;
}

QPDFObjectHandle FormsFanningOut(QPDF& qpdf)
{
    QPDFObjectHandle form = Form(qpdf, "0 0 1 rg 10 10 50 50 re f", QPDFObjectHandle::newNull());
    for (int depth = 0; depth < 40; ++depth) form = Form(qpdf, "/F Do /F Do", form);
    return form;
}

}  // namespace

std::string EndlessNestedForms()
{
    return OneInchPage([](QPDF& qpdf, QPDFObjectHandle page) {
        QPDFObjectHandle forms = FormsFanningOut(qpdf);
        page.replaceKey("/Resources", Form(qpdf, "", forms).getDict().getKey("/Resources"));
        page.replaceKey("/Contents", QPDFObjectHandle::newStream(&qpdf, "/F Do"));
    });
}

std::string EndlessFieldDrawingForms()
{
    return OneInchPage([](QPDF& qpdf, QPDFObjectHandle page) {
        QPDFObjectHandle field = qpdf.makeIndirectObject(QPDFObjectHandle::parse(
            "<< /Type /Annot /Subtype /Widget /FT /Tx /T (f) /Rect [0 0 72 72] /F 4 >>"));
        QPDFObjectHandle appearance = QPDFObjectHandle::newDictionary();
        appearance.replaceKey("/N", Form(qpdf, "/F Do", FormsFanningOut(qpdf)));
        field.replaceKey("/AP", appearance);
        page.replaceKey("/Annots", QPDFObjectHandle::newArray({field}));
        QPDFObjectHandle form = QPDFObjectHandle::newDictionary();
        form.replaceKey("/Fields", QPDFObjectHandle::newArray({field}));
        qpdf.getRoot().replaceKey("/AcroForm", form);
    });
}

std::string MillionsOfPaths()
{
    return OneInchPage([](QPDF& qpdf, QPDFObjectHandle page) {
        QPDFObjectHandle paths = QPDFObjectHandle::newStream(&qpdf);
        paths.replaceStreamData(Deflated("0 0 1 rg\n", "10 10 0.5 0.5 re f\n", 35000000),
                                QPDFObjectHandle::newName("/FlateDecode"),
                                QPDFObjectHandle::newNull());
        page.replaceKey("/Contents", paths);
    });
}

std::string InflatingToAGigabyte()
{
    const std::string compressed = Deflated("", std::string(1 << 20, ' '), 1024);
    return OneInchPage([&compressed](QPDF& qpdf, QPDFObjectHandle page) {
        QPDFObjectHandle spaces = QPDFObjectHandle::newStream(&qpdf);
        spaces.replaceStreamData(compressed, QPDFObjectHandle::newName("/FlateDecode"),
                                 QPDFObjectHandle::newNull());
        page.replaceKey("/Contents", QPDFObjectHandle::newArray({spaces, page.getKey("/Contents")}));
    });
}

}  // namespace testsupport
