#pragma once

#include <QByteArrayView>

#include <optional>

// Finds where the text of a chunk (args.chunkBase64) lies in a raw envelope, without parsing
// the envelope, so that the text can be cut out before Qt's parser copies it twice.
//
// It answers only for an envelope of the plainest shape: one top-level object with a single
// "args" key, whose value is an object with a single "chunkBase64" key, whose value is a
// string; no key at those two levels holds an escape (an escaped key could spell either name).
// Everything else gets no answer, and is left to the strict parse as a whole. The span runs to
// the first quote after the opening one: it is the string's whole text only when it holds
// plain characters, which the caller checks (isPlainText, or a decoder that takes nothing
// else). Nothing else is validated; the rest of the envelope goes through the strict parse.
class EnvelopeScanner {
public:
    struct Span {
        qsizetype offset = 0;
        qsizetype size = 0;
    };

    static std::optional<Span> findChunkText(QByteArrayView message);

    // Printable ASCII other than the quote and the backslash: characters that JSON text holds
    // as themselves, one byte each.
    static bool isPlainText(QByteArrayView text);
};
