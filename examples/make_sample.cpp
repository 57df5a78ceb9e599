// Writes examples/sample.pdf: a one-page document with text, a colour JPEG
// image (DCTDecode) and a colour Flate image, both drawn at 300 dpi, an
// uncompressed content stream, document information and an XMP metadata
// stream. The output is fully deterministic, so the committed sample can be
// checked against a fresh run.
//
//   make_sample output.pdf
#include <cstdio>
#include <csetjmp>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

namespace {

// A smooth colour picture with a few shapes, w x h RGB.
// With posterize set the colours are cut to a few flat levels, as in a chart.
std::vector<unsigned char> Picture(int w, int h, int variant, bool posterize) {
    std::vector<unsigned char> px(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double fx = static_cast<double>(x) / w, fy = static_cast<double>(y) / h;
            double r = 0.5 + 0.5 * std::sin(6.0 * fx + variant);
            double g = 0.5 + 0.5 * std::cos(5.0 * fy - variant);
            double b = 0.5 + 0.5 * std::sin(4.0 * (fx + fy));
            double dx = fx - 0.5, dy = fy - 0.5;
            if (dx * dx + dy * dy < 0.06) { // a disc
                r = 1.0 - r * 0.3;
                g *= 0.4;
                b *= 0.4;
            }
            if (std::abs(fx - fy) < 0.02) // a diagonal line
                r = g = b = 0.1;
            if (posterize) {
                r = std::floor(r * 4) / 4;
                g = std::floor(g * 4) / 4;
                b = std::floor(b * 4) / 4;
            }
            unsigned char *p = &px[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = static_cast<unsigned char>(std::lround(r * 255));
            p[1] = static_cast<unsigned char>(std::lround(g * 255));
            p[2] = static_cast<unsigned char>(std::lround(b * 255));
        }
    }
    return px;
}

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegError *>(cinfo->err)->jump, 1); }

std::string Jpeg(const std::vector<unsigned char> &rgb, int w, int h, int quality) {
    jpeg_compress_struct c{};
    JpegError err{};
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = OnJpegError;
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        std::free(buf);
        return {};
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    c.write_JFIF_header = FALSE;
    jpeg_start_compress(&c, TRUE);
    for (int y = 0; y < h; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(&rgb[static_cast<size_t>(y) * w * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::string out(reinterpret_cast<char *>(buf), size);
    jpeg_destroy_compress(&c);
    std::free(buf);
    return out;
}

std::string Deflate(const std::vector<unsigned char> &data) {
    uLongf cap = compressBound(static_cast<uLong>(data.size()));
    std::string out(cap, '\0');
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &cap, data.data(), static_cast<uLong>(data.size()), 9) != Z_OK)
        return {};
    out.resize(cap);
    return out;
}

class Pdf {
public:
    void Add(int num, const std::string &body) { Begin(num), text_ += body + "\nendobj\n"; }
    void AddStream(int num, const std::string &dict, const std::string &data) {
        Begin(num);
        text_ += "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
    }
    std::string Finish(int root, int info) {
        size_t xref = text_.size();
        int size = static_cast<int>(offsets_.size());
        text_ += "xref\n0 " + std::to_string(size) + "\n0000000000 65535 f \n";
        char line[32];
        for (int i = 1; i < size; ++i) {
            std::snprintf(line, sizeof line, "%010zu 00000 n \n", offsets_[static_cast<size_t>(i)]);
            text_ += line;
        }
        text_ += "trailer\n<< /Size " + std::to_string(size) + " /Root " + std::to_string(root) + " 0 R /Info " +
                 std::to_string(info) + " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return text_;
    }

private:
    void Begin(int num) {
        if (offsets_.size() <= static_cast<size_t>(num))
            offsets_.resize(static_cast<size_t>(num) + 1, 0);
        offsets_[static_cast<size_t>(num)] = text_.size();
        text_ += std::to_string(num) + " 0 obj\n";
    }
    std::string text_ = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets_{0};
};

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample output.pdf\n");
        return 1;
    }
    // Photo: 300 x 210 pixels shown 1.0 x 0.7 inch (300 dpi).
    const int jw = 300, jh = 210;
    std::string jpeg = Jpeg(Picture(jw, jh, 0, false), jw, jh, 90);
    // Chart: 240 x 150 pixels shown 0.8 x 0.5 inch (300 dpi).
    const int fw = 240, fh = 150;
    std::string flate = Deflate(Picture(fw, fh, 2, true));
    if (jpeg.empty() || flate.empty()) {
        std::fprintf(stderr, "make_sample: cannot encode the images\n");
        return 1;
    }

    std::string content =
        "BT /F1 20 Tf 72 720 Td (ossel sample document) Tj ET\n"
        "BT /F1 11 Tf 72 696 Td 14 TL\n"
        "(This page carries two colour images drawn at 300 dots per inch:) Tj T*\n"
        "(a JPEG photo and a Flate-compressed chart. With the default settings) Tj T*\n"
        "(colour images are reduced to 72 dpi when they exceed 1.5 times that.) Tj ET\n"
        "q 72 0 0 50.4 72 600 cm /Im1 Do Q\n"
        "BT /F1 9 Tf 72 588 Td (JPEG, 300 x 210 pixels) Tj ET\n"
        "q 57.6 0 0 36 216 614.4 cm /Im2 Do Q\n"
        "BT /F1 9 Tf 216 588 Td (Flate, 240 x 150 pixels) Tj ET\n"
        "0.2 0.3 0.7 RG 2 w 72 570 m 540 570 l S\n";
    std::string xmp =
        "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
        "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">ossel sample document</rdf:li></rdf:Alt></dc:title>"
        "</rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end=\"w\"?>";

    Pdf pdf;
    pdf.Add(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 9 0 R >>");
    pdf.Add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    pdf.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> "
               "/XObject << /Im1 6 0 R /Im2 7 0 R >> /ProcSet [/PDF /Text /ImageC] >> /Contents 4 0 R >>");
    pdf.AddStream(4, "", content);
    pdf.Add(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    pdf.AddStream(6,
                  "/Type /XObject /Subtype /Image /Width " + std::to_string(jw) + " /Height " + std::to_string(jh) +
                      " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode",
                  jpeg);
    pdf.AddStream(7,
                  "/Type /XObject /Subtype /Image /Width " + std::to_string(fw) + " /Height " + std::to_string(fh) +
                      " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode",
                  flate);
    pdf.Add(8, "<< /Title (ossel sample document) /Producer (ossel make_sample) >>");
    pdf.AddStream(9, "/Type /Metadata /Subtype /XML", xmp);
    std::string file = pdf.Finish(1, 8);

    FILE *f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
