// SPDX-License-Identifier: Apache-2.0
#include "support/heavy_pdfs.hpp"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
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
std::string Deflated(const std::string& head, const std::string& piece, int times,
                     int level = Z_BEST_SPEED)
{
    z_stream zs{};
    deflateInit(&zs, level);
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

std::string InflatingTo(int mebibytes, bool smallFile)
{
    const std::string compressed = Deflated("", std::string(1 << 20, ' '), mebibytes,
                                            smallFile ? Z_BEST_COMPRESSION : Z_BEST_SPEED);
    return OneInchPage([&compressed](QPDF& qpdf, QPDFObjectHandle page) {
        QPDFObjectHandle spaces = QPDFObjectHandle::newStream(&qpdf);
        spaces.replaceStreamData(compressed, QPDFObjectHandle::newName("/FlateDecode"),
                                 QPDFObjectHandle::newNull());
        page.replaceKey("/Contents", QPDFObjectHandle::newArray({spaces, page.getKey("/Contents")}));
    });
}

namespace {

// The page drawing one image XObject over itself.
std::string OneImagePage(const std::string& imageDictionary, const std::string& data)
{
    return OneInchPage([&](QPDF& qpdf, QPDFObjectHandle page) {
        QPDFObjectHandle image = QPDFObjectHandle::newStream(&qpdf);
        image.replaceDict(QPDFObjectHandle::parse(imageDictionary));
        image.replaceStreamData(data, image.getDict().getKey("/Filter"), QPDFObjectHandle::newNull());
        QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
        xobjects.replaceKey("/Im", image);
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/XObject", xobjects);
        page.replaceKey("/Resources", resources);
        page.replaceKey("/Contents", QPDFObjectHandle::newStream(&qpdf, "q 72 0 0 72 0 0 cm /Im Do Q"));
    });
}

std::string BigEndian(uint64_t value, int bytes)
{
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xff);
    return out;
}

}  // namespace

std::string Jbig2Bomb()
{
    // One page information segment (type 48), embedded form: number, flags,
    // referred segments, page, length; then width, height, resolutions,
    // flags and striping.
    const std::string info = BigEndian(65000, 4) + BigEndian(65000, 4) + BigEndian(0, 4) +
                             BigEndian(0, 4) + std::string(1, '\0') + BigEndian(0, 2);
    const std::string segment = BigEndian(0, 4) + std::string(1, 48) + std::string(1, 0) +
                                std::string(1, 1) + BigEndian(info.size(), 4) + info;
    return OneImagePage("<< /Type /XObject /Subtype /Image /Width 100 /Height 100 /ImageMask true "
                        "/BitsPerComponent 1 /Filter /JBIG2Decode >>",
                        segment);
}

std::string UndecodableImage()
{
    return OneImagePage("<< /Type /XObject /Subtype /Image /Width 100 /Height 100 /ColorSpace "
                        "/DeviceGray /BitsPerComponent 8 /Filter /DCTDecode >>",
                        std::string(400, 'x'));
}

std::string UnknownOperator()
{
    return OneInchPage([](QPDF& qpdf, QPDFObjectHandle page) {
        page.replaceKey("/Contents", QPDFObjectHandle::newStream(&qpdf, "0 0 1 rg 10 10 50 50 re f 7 frob"));
    });
}

std::string XrefClaimingObjects(int64_t objects)
{
    std::string pdf = "%PDF-1.5\n";
    std::vector<size_t> offsets;
    for (const char* object : {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 72 72] >>"}) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + object + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    offsets.push_back(xref);
    // Entries of seven bytes (type, offset, generation): object 0, the four
    // objects, then free entries, zeros all, to the count claimed.
    std::string head = std::string(5, '\0') + "\xff\xff";
    for (size_t offset : offsets) head += "\x01" + BigEndian(offset, 4) + std::string(2, '\0');
    const int64_t free = objects - 1 - static_cast<int64_t>(offsets.size());
    const std::string data = Deflated(head, std::string(7, '\0'), static_cast<int>(free));
    pdf += "4 0 obj\n<< /Type /XRef /Size " + std::to_string(objects) +
           " /W [1 4 2] /Root 1 0 R /Filter /FlateDecode /Length " + std::to_string(data.size()) +
           " >>\nstream\n" + data + "\nendstream\nendobj\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

void WritePaddedObjectStream(const std::string& path, int64_t padding)
{
    std::string table, objects;
    int number = 2;
    for (const char* object : {"<< /Type /Catalog /Pages 3 0 R >>", "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
                               "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 72 72] >>"}) {
        table += std::to_string(number++) + " " + std::to_string(objects.size()) + " ";
        objects += std::string(object) + " ";
    }
    const std::string head = "%PDF-1.5\n";
    const std::string stream = "1 0 obj\n<< /Type /ObjStm /N 3 /First " + std::to_string(table.size()) +
                               " /Length " + std::to_string(table.size() + objects.size() + padding) +
                               " >>\nstream\n" + table + objects;
    const int64_t streamEnd = static_cast<int64_t>(head.size() + stream.size()) + padding;
    const std::string end = "\nendstream\nendobj\n";
    const int64_t xref = streamEnd + static_cast<int64_t>(end.size());
    std::string entries = std::string(1, '\0') + BigEndian(0, 8) + "\xff\xff";
    entries += "\x01" + BigEndian(head.size(), 8) + std::string(2, '\0');
    for (int i = 0; i < 3; ++i) entries += "\x02" + BigEndian(1, 8) + BigEndian(i, 2);
    entries += "\x01" + BigEndian(xref, 8) + std::string(2, '\0');
    const std::string tail = end + "5 0 obj\n<< /Type /XRef /Size 6 /W [1 8 2] /Root 2 0 R /Length " +
                             std::to_string(entries.size()) + " >>\nstream\n" + entries +
                             "\nendstream\nendobj\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    const std::string front = head + stream;
    const bool written = pwrite(fd, front.data(), front.size(), 0) == static_cast<ssize_t>(front.size()) &&
                         pwrite(fd, tail.data(), tail.size(), streamEnd) == static_cast<ssize_t>(tail.size());
    close(fd);
    if (!written) throw std::runtime_error("cannot write " + path);
}

std::string BlankPages(int count)
{
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    const auto add = [&](const std::string& body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    add("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < count; ++i) kids += std::to_string(i + 3) + " 0 R ";
    add("<< /Type /Pages /MediaBox [0 0 612 792] /Count " + std::to_string(count) + " /Kids [" + kids + "] >>");
    for (int i = 0; i < count; ++i) add("<< /Type /Page /Parent 2 0 R >>");
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    char entry[32];
    for (size_t offset : offsets) {
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

std::string PpdOfManyOptions(const std::string& base, size_t bytes)
{
    std::string ppd = base;
    for (int i = 0; ppd.size() < bytes; ++i) {
        const std::string name = "Opt" + std::to_string(i);
        ppd += "*OpenUI *" + name + "/Option " + std::to_string(i) + ": PickOne\n*Default" + name +
               ": A\n*" + name + " A/A: \"\"\n*CloseUI: *" + name + "\n";
    }
    return ppd;
}

}  // namespace testsupport
