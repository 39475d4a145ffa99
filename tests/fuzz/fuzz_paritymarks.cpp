// Parity marks arrive in whatever pieces read() returns, so a mark can be cut
// anywhere. The decoded stream must not depend on where the cuts fall.
#include "FuzzCheck.h"
#include "serial/ParityMarks.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {
QByteArray decodeInPieces(const QByteArray& stream, const std::vector<std::size_t>& cuts) {
    ParityMarks marks;
    QByteArray out;
    qsizetype at = 0;
    for (std::size_t len : cuts) {
        const qsizetype n = qMin<qsizetype>(qsizetype(len), stream.size() - at);
        out += marks.decode(stream.mid(at, n));
        at += n;
    }
    out += marks.decode(stream.mid(at));
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    // Piece lengths from the tail of the input, the stream from the rest;
    // lengths of zero stand for reads that returned nothing.
    std::vector<std::size_t> cuts(fdp.ConsumeIntegralInRange<std::size_t>(0, 24));
    for (std::size_t& c : cuts)
        c = fdp.ConsumeIntegralInRange<std::size_t>(0, 6);
    std::vector<std::uint8_t> errors(fdp.ConsumeIntegralInRange<std::size_t>(0, 8));
    for (std::uint8_t& e : errors)
        e = fdp.ConsumeIntegral<std::uint8_t>();
    const std::vector<std::uint8_t> rest = fdp.ConsumeRemainingBytes<std::uint8_t>();
    const QByteArray raw(reinterpret_cast<const char*>(rest.data()), qsizetype(rest.size()));

    // Arbitrary bytes as the stream: pieces decode the same as one read.
    const QByteArray whole = ParityMarks().decode(raw);
    FUZZ_CHECK(decodeInPieces(raw, cuts) == whole);
    FUZZ_CHECK(whole.size() <= raw.size());
    if (!raw.contains('\xff'))
        FUZZ_CHECK(whole == raw);

    // The stream as the kernel marks it: each 0xFF doubled, and the chosen
    // bytes flagged as parity errors. Decoding gives the data back with a
    // "?" for each flagged byte, however the stream is cut.
    QByteArray marked;
    QByteArray wanted;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        bool bad = false;
        for (std::uint8_t e : errors)
            bad = bad || (raw.size() > 0 && qsizetype(e) % raw.size() == i);
        if (bad) {
            marked += QByteArray("\xff\x00", 2) + raw[i];
            wanted += '?';
        } else if (raw[i] == '\xff') {
            marked += "\xff\xff";
            wanted += '\xff';
        } else {
            marked += raw[i];
            wanted += raw[i];
        }
    }
    FUZZ_CHECK(ParityMarks().decode(marked) == wanted);
    FUZZ_CHECK(decodeInPieces(marked, cuts) == wanted);

    // reset() drops a half-received mark.
    ParityMarks marks;
    FUZZ_CHECK(marks.decode(QByteArray("\xff", 1)).isEmpty());
    marks.reset();
    FUZZ_CHECK(marks.decode(QByteArray("\x00"
                                       "A",
                                       2)) == QByteArray("\x00"
                                                         "A",
                                                         2));
    return 0;
}
