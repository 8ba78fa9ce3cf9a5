// SPDX-License-Identifier: Apache-2.0
// The vector pass: each emitted page becomes a form XObject, drawn through
// one cm onto a new page of the same media box.  The new pages live in the
// source document itself, so fonts, images and other resources are written
// once, byte for byte, however many pages use them.
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFSystemError.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <map>
#include <set>
#include <string>

#include "pages/geometry.hpp"
#include "pages/vector_pages.hpp"

namespace pdftopjl {

namespace {

QPDFObjectHandle name(const char* text)
{
    return QPDFObjectHandle::newName(text);
}

QPDFObjectHandle number(double v)
{
    if (v == static_cast<double>(static_cast<long long>(v)))
        return QPDFObjectHandle::newInteger(static_cast<long long>(v));
    return QPDFObjectHandle::newReal(FormatNumber(v));
}

QPDFObjectHandle rectangle(const PageRect& r)
{
    return QPDFObjectHandle::newArray(
        {number(r.x), number(r.y), number(r.x + r.w), number(r.y + r.h)});
}

// The first warning qpdf gave since `from`, or empty.
std::string newWarning(QPDF& pdf, size_t from)
{
    if (pdf.numWarnings() <= from) return {};
    std::vector<QPDFExc> warnings = pdf.getWarnings();
    return from < warnings.size() ? warnings[from].what() : std::string("unknown problem");
}

// A page's content streams joined into one, compressed, for its form.
class JoinedContents : public QPDFObjectHandle::StreamDataProvider {
public:
    explicit JoinedContents(QPDFObjectHandle page) : page_(page) {}

    void provideStreamData(QPDFObjGen const&, Pipeline* out) override
    {
        Pl_Flate flate("joined page contents", out, Pl_Flate::a_deflate);
        QPDFPageObjectHelper(page_).pipeContents(&flate);
        flate.finish();
    }

private:
    QPDFObjectHandle page_;
};

class VectorWriter : public PageWriter {
public:
    VectorWriter(SourceDocument& source, const EditPlan& plan, FILE* file)
        : file_(file), source_(source), plan_(plan)
    {
    }

    // Printable annotations (filled form fields, stamps) become part of the
    // page content, as a printer would print them.
    bool begin() override
    {
        warningsBefore_ = source_.pdf.numWarnings();
        // Flattening looks at every form field first: a tenth of the work on
        // a document with nothing to flatten.
        const auto annotated = [](QPDFObjectHandle page) { return page.hasKey("/Annots"); };
        if (std::any_of(source_.pages.begin(), source_.pages.end(), annotated))
            QPDFPageDocumentHelper(source_.pdf).flattenAnnotations(an_print);
        pagesNode_ = source_.pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        pagesNode_.replaceKey("/Type", name("/Pages"));
        kids_ = QPDFObjectHandle::newArray();
        return true;
    }

    // A warning qpdf gave while the pages were built or written: something
    // in the document could not be carried over intact.
    std::string problem() { return newWarning(source_.pdf, warningsBefore_); }

    bool addPage(int32_t, QPDFObjectHandle sourcePage, const PageGeometry& g) override
    {
        const QPDFMatrix ctm = PageTransform(plan_.rotation, plan_.mirror, g.media, g.rotate);
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
        xobjects.replaceKey("/Fm0", formFor(sourcePage, g));
        resources.replaceKey("/XObject", xobjects);

        QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
        page.replaceKey("/Type", name("/Page"));
        page.replaceKey("/Parent", pagesNode_);
        // The source's own array: the same media box to the last digit.
        page.replaceKey("/MediaBox", g.mediaBox);
        if (g.rotate != 0) page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(g.rotate));
        if (g.userUnit != 0)
            page.replaceKey("/UserUnit", QPDFObjectHandle::newReal(FormatNumber(g.userUnit)));
        QPDFObjectHandle group = sourcePage.getKey("/Group");
        if (group.isDictionary()) page.replaceKey("/Group", group);
        page.replaceKey("/Resources", resources);
        page.replaceKey("/Contents", contentFor(ctm));
        kids_.appendItem(source_.pdf.makeIndirectObject(page));
        return true;
    }

    bool finish() override
    {
        if (std::string warning = problem(); !warning.empty()) {
            ReportRenderFailure("%s", warning.c_str());
            return false;
        }
        try {
            pagesNode_.replaceKey("/Kids", kids_);
            pagesNode_.replaceKey("/Count", QPDFObjectHandle::newInteger(kids_.getArrayNItems()));
            QPDFObjectHandle catalog = QPDFObjectHandle::newDictionary();
            catalog.replaceKey("/Type", name("/Catalog"));
            catalog.replaceKey("/Pages", pagesNode_);
            // What still shapes the printed appearance of the pages.
            QPDFObjectHandle old = source_.pdf.getRoot();
            for (const char* key : {"/Version", "/Extensions", "/OCProperties", "/OutputIntents"})
                if (old.hasKey(key)) catalog.replaceKey(key, old.getKey(key));
            QPDFObjectHandle trailer = source_.pdf.getTrailer();
            trailer.replaceKey("/Root", source_.pdf.makeIndirectObject(catalog));
            trailer.removeKey("/Info");

            QPDFWriter writer(source_.pdf);
            writer.setOutputFile("re-rendered document", file_, false);
            writer.setPreserveEncryption(false);
            // Streams go out as they came in: nothing decoded, nothing
            // compressed again.
            writer.setDecodeLevel(qpdf_dl_none);
            writer.setCompressStreams(false);
            writer.write();
        } catch (const QPDFSystemError& e) {
            // The file, not the document: qpdf writes through stdio.
            error_ = e.getErrno() != 0 ? e.getErrno() : EIO;
            return false;
        } catch (const std::exception& e) {
            ReportRenderFailure("cannot write the new document: %s", e.what());
            return false;
        }
        if (std::string warning = problem(); !warning.empty()) {
            ReportRenderFailure("%s", warning.c_str());
            return false;
        }
        if (std::fflush(file_) != 0 || std::ferror(file_)) {
            error_ = errno != 0 ? errno : EIO;
            return false;
        }
        return true;
    }

    int writeError() const override { return error_; }

private:
    // The page's single content stream serves as the form itself, so the
    // content is carried byte for byte; pages with several streams (or a
    // stream another page already took) get one joined stream of their own.
    QPDFObjectHandle formFor(QPDFObjectHandle sourcePage, const PageGeometry& g)
    {
        QPDFObjectHandle contents = sourcePage.getKey("/Contents");
        QPDFObjectHandle form;
        if (contents.isStream() && usedStreams_.insert(contents.getObjGen()).second) {
            form = contents;
        } else {
            form = QPDFObjectHandle::newStream(&source_.pdf);
            form.replaceStreamData(std::make_shared<JoinedContents>(sourcePage),
                                   name("/FlateDecode"), QPDFObjectHandle::newNull());
        }
        QPDFObjectHandle dict = form.getDict();
        dict.replaceKey("/Type", name("/XObject"));
        dict.replaceKey("/Subtype", name("/Form"));
        dict.removeKey("/Matrix");
        dict.replaceKey("/BBox", g.crop == g.media ? g.mediaBox : rectangle(g.crop));
        dict.replaceKey("/Resources",
                        QPDFPageObjectHelper(sourcePage).getAttribute("/Resources", false));
        dict.replaceKey("/Group", sourcePage.getKey("/Group"));
        return form;
    }

    // Pages with the same placement share one small content stream.
    QPDFObjectHandle contentFor(const QPDFMatrix& ctm)
    {
        std::string text =
            IsIdentity(ctm) ? "q /Fm0 Do Q\n" : "q " + MatrixText(ctm) + " cm /Fm0 Do Q\n";
        auto found = contents_.find(text);
        if (found == contents_.end())
            found = contents_.emplace(text, QPDFObjectHandle::newStream(&source_.pdf, text)).first;
        return found->second;
    }

    FILE* file_;
    int error_ = 0;
    SourceDocument& source_;
    const EditPlan& plan_;
    size_t warningsBefore_ = 0;
    QPDFObjectHandle pagesNode_;
    QPDFObjectHandle kids_;
    std::set<QPDFObjGen> usedStreams_;
    std::map<std::string, QPDFObjectHandle> contents_;
};

}  // namespace

std::unique_ptr<PageWriter> MakeVectorWriter(SourceDocument& source, const EditPlan& plan,
                                             FILE* file)
{
    return std::make_unique<VectorWriter>(source, plan, file);
}

}  // namespace pdftopjl
