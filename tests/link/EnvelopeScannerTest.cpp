// The decoder that cuts a chunk's text out before parsing must answer exactly as Qt's parser
// over the whole message: the same messages pass, with the same values, and the same fail.
// Each case runs both and compares; it also says whether the scan finds the chunk's text, so
// that the cases reach both roads.

#include "link/Base64.h"
#include "link/EnvelopeScanner.h"
#include "link/IpcMessage.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>

namespace {

// An envelope with `args` as the args object's members and `top` ahead of them at the top.
QByteArray envelope(const QByteArray& args, const QByteArray& top = {})
{
    return R"({"version":"1","request_id":"r","source":"extension","type":"command","command":"save_file",)" + top
        + R"("args":{)" + args + "}}";
}

QByteArray chunk(const QByteArray& text, const QByteArray& more = R"(,"chunkIndex":0,"totalChunks":1)")
{
    return R"("chunkBase64":")" + text + '"' + more;
}

enum class Scan { Finds, Leaves };
enum class Answer { Passes, Fails, AsQtSays };

struct Case {
    const char* name;
    QByteArray bytes;
    Scan scan;
    Answer answer;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

const Case cases[] = {
    // The common shapes.
    {"plain chunk", envelope(chunk("aGVsbG8=")), Scan::Finds, Answer::Passes},
    {"chunk among other keys", envelope(R"("z":[1,{"a":"b"}],)" + chunk("AAAA", R"(,"url":"https://x.example/a?b=1")")),
        Scan::Finds, Answer::Passes},
    {"chunk last", envelope(R"("chunkIndex":0,"totalChunks":1,"chunkBase64":"AAAA")"), Scan::Finds, Answer::Passes},
    {"empty chunk", envelope(chunk("")), Scan::Finds, Answer::Passes},
    {"long chunk", envelope(chunk(QByteArray(300000, 'A'))), Scan::Finds, Answer::Passes},
    {"whitespace around every token",
        " \t\r\n{ \"version\" : \"1\" ,\n\"request_id\":\"r\",\"type\":\"command\",\"command\":\"save_file\",\r\n"
        "\"args\" :\t{ \"chunkBase64\" \n:\r \"AAAA\" , \"chunkIndex\" : 0 } \n} \r\n ",
        Scan::Finds, Answer::Passes},
    {"form feed is not JSON whitespace", "{\f" + envelope(chunk("AAAA")).mid(1), Scan::Leaves, Answer::AsQtSays},
    {"byte order mark ahead", "\xef\xbb\xbf" + envelope(chunk("AAAA")), Scan::Leaves, Answer::AsQtSays},
    {"plain text that is not base64", envelope(chunk("not base64!")), Scan::Finds, Answer::Passes},
    {"padding inside the text", envelope(chunk("AA==AAAA")), Scan::Finds, Answer::Passes},

    // Escapes: in the chunk the whole parse decides; elsewhere the rest's parse does.
    {"escaped slash in the chunk", envelope(chunk(R"(aGVs\/bG8=)")), Scan::Finds, Answer::Passes},
    {"escaped quote in the chunk", envelope(chunk(R"(AA\"AA)")), Scan::Leaves, Answer::Passes},
    {"escaped backslash ending the chunk", envelope(chunk(R"(AAA\\)")), Scan::Finds, Answer::Passes},
    {"unicode escape in the chunk", envelope(chunk(R"(\u0041AAA)")), Scan::Finds, Answer::Passes},
    {"unknown escape in the chunk", envelope(chunk(R"(AA\qA)")), Scan::Finds, Answer::AsQtSays},
    {"surrogate pair elsewhere", envelope(chunk("AAAA", R"(,"message":"\ud83d\ude00 \u00e9\n\t\"q\"")")),
        Scan::Finds, Answer::Passes},
    {"lone high surrogate elsewhere", envelope(chunk("AAAA", R"(,"message":"\ud800")")), Scan::Finds, Answer::AsQtSays},
    {"lone low surrogate elsewhere", envelope(chunk("AAAA", R"(,"message":"\udc00x")")), Scan::Finds, Answer::AsQtSays},
    {"short unicode escape elsewhere", envelope(chunk("AAAA", R"(,"message":"\u00")")), Scan::Finds, Answer::Fails},
    {"escaped quotes that spell the keys",
        envelope(chunk("AAAA"), R"("request_id":"x\",\"args\":{\"chunkBase64\":\"BBBB",)"), Scan::Finds, Answer::Passes},

    // Keys: duplicates (the parse keeps the last one) and keys that could be the chunk's.
    {"two chunk keys", envelope(chunk("AAAA", R"(,"chunkBase64":"BBBB")")), Scan::Leaves, Answer::Passes},
    {"two args keys", envelope(chunk("AAAA"), R"("args":{"chunkBase64":"BBBB"},)"), Scan::Leaves, Answer::Passes},
    {"chunk key spelled with an escape", envelope(R"("chunk\u0042ase64":"BBBB",)" + chunk("AAAA")), Scan::Leaves,
        Answer::Passes},
    {"args key spelled with an escape", R"({"version":"1","request_id":"r","type":"t","command":"c","\u0061rgs":{)" + chunk("AAAA") + "}}",
        Scan::Leaves, Answer::Passes},
    {"an escaped unknown key", envelope(R"("x\"y":1,)" + chunk("AAAA")), Scan::Leaves, Answer::Passes},
    {"duplicate index, the last one an integer", envelope(chunk("AAAA", R"(,"chunkIndex":"x","chunkIndex":2)")),
        Scan::Finds, Answer::Passes},
    {"duplicate index, the last one a string", envelope(chunk("AAAA", R"(,"chunkIndex":2,"chunkIndex":"x")")),
        Scan::Finds, Answer::Fails},
    {"duplicate request_id", envelope(chunk("AAAA"), R"("request_id":"second",)"), Scan::Finds, Answer::Passes},
    {"chunk keys elsewhere are unknown",
        envelope(chunk("AAAA", R"(,"ui":{"type":"t","chunkBase64":"x"},"zz":[{"chunkBase64":"y"}])"),
            R"("chunkBase64":"CCCC","extra":{"args":{"chunkBase64":"DDDD"}},)"),
        Scan::Finds, Answer::Passes},
    {"chunk key in another case", envelope(R"("ChunkBase64":"AAAA")"), Scan::Leaves, Answer::Passes},
    {"non-ASCII keys", envelope("\"\xc3\xa9\":1," + chunk("AAAA"), "\"\xe2\x82\xac\":true,"), Scan::Finds, Answer::Passes},

    // Numbers, as the whole parse reads them.
    {"index 3.0", envelope(chunk("AAAA", R"(,"chunkIndex":3.0)")), Scan::Finds, Answer::Passes},
    {"index 1e2", envelope(chunk("AAAA", R"(,"chunkIndex":1e2)")), Scan::Finds, Answer::Passes},
    {"index 1E+2", envelope(chunk("AAAA", R"(,"chunkIndex":1E+2)")), Scan::Finds, Answer::Passes},
    {"index -0", envelope(chunk("AAAA", R"(,"chunkIndex":-0)")), Scan::Finds, Answer::Passes},
    {"value -0", envelope(chunk("AAAA", R"(,"value":-0)")), Scan::Finds, Answer::Passes},
    {"value -0.0", envelope(chunk("AAAA", R"(,"value":-0.0)")), Scan::Finds, Answer::Passes},
    {"index 2^63 - 1", envelope(chunk("AAAA", R"(,"chunkIndex":9223372036854775807)")), Scan::Finds, Answer::Passes},
    {"index 2^63", envelope(chunk("AAAA", R"(,"chunkIndex":9223372036854775808)")), Scan::Finds, Answer::AsQtSays},
    {"index -2^63", envelope(chunk("AAAA", R"(,"chunkIndex":-9223372036854775808)")), Scan::Finds, Answer::Passes},
    {"index below -2^63", envelope(chunk("AAAA", R"(,"chunkIndex":-9223372036854775809)")), Scan::Finds,
        Answer::AsQtSays},
    {"index 1e400", envelope(chunk("AAAA", R"(,"chunkIndex":1e400)")), Scan::Finds, Answer::Fails},
    {"index 0.5", envelope(chunk("AAAA", R"(,"chunkIndex":0.5)")), Scan::Finds, Answer::Fails},
    {"leading zero", envelope(chunk("AAAA", R"(,"chunkIndex":01)")), Scan::Finds, Answer::Fails},
    {"leading plus", envelope(chunk("AAAA", R"(,"chunkIndex":+1)")), Scan::Finds, Answer::Fails},
    {"bare minus", envelope(chunk("AAAA", R"(,"chunkIndex":-)")), Scan::Finds, Answer::Fails},
    {"NaN", envelope(chunk("AAAA", R"(,"value":NaN)")), Scan::Finds, Answer::Fails},

    // Wrong types, at every level, and values the scan cannot take.
    {"chunk a number", envelope(R"("chunkBase64":12)"), Scan::Leaves, Answer::Fails},
    {"chunk null", envelope(R"("chunkBase64":null,"chunkIndex":0)"), Scan::Leaves, Answer::Passes},
    {"chunk an object", envelope(R"("chunkBase64":{"a":"AAAA"})"), Scan::Leaves, Answer::Fails},
    {"args a string", R"({"version":"1","request_id":"r","type":"t","command":"c","args":"AAAA"})", Scan::Leaves,
        Answer::Fails},
    {"args null", R"({"version":"1","request_id":"r","type":"t","command":"c","args":null})", Scan::Leaves,
        Answer::Passes},
    {"index a string", envelope(chunk("AAAA", R"(,"chunkIndex":"0")")), Scan::Finds, Answer::Fails},
    {"session tabId a string", envelope(chunk("AAAA", R"(,"session":{"tabId":"1","windowId":2})")), Scan::Finds,
        Answer::Fails},
    {"ui an array", envelope(chunk("AAAA", R"(,"ui":["progress"])")), Scan::Finds, Answer::Fails},
    {"result with a number", envelope(chunk("AAAA"), R"("result":{"a":1},)"), Scan::Finds, Answer::Fails},
    {"request_id missing",
        R"({"version":"1","type":"t","command":"c","args":{)" + chunk("AAAA") + "}}", Scan::Finds, Answer::Fails},
    {"unknown values of every kind",
        envelope(chunk("AAAA", R"(,"u":[1,-2.5e-3,true,false,null,"s",{"k":[[],{}]},"}{]["])"), R"("v":{"w":[{"x":"\"}"}]},)"),
        Scan::Finds, Answer::Passes},
    {"deep unknown nesting", envelope(chunk("AAAA", "," + QByteArray(R"("deep":)") + QByteArray(2000, '[') + QByteArray(2000, ']'))),
        Scan::Finds, Answer::AsQtSays},

    // Bytes that are not valid UTF-8 or not allowed raw, in the chunk and elsewhere.
    {"invalid byte in the chunk", envelope(chunk("AA\xff" "A")), Scan::Finds, Answer::Fails},
    {"non-ASCII letter in the chunk", envelope(chunk("AA\xc3\xa9")), Scan::Finds, Answer::Passes},
    {"tab in the chunk", envelope(chunk("AA\tAA")), Scan::Finds, Answer::AsQtSays},
    {"NUL in the chunk", envelope(chunk(QByteArray("AA\0AA", 5))), Scan::Finds, Answer::AsQtSays},
    {"DEL in the chunk", envelope(chunk("AA\x7f" "A")), Scan::Finds, Answer::AsQtSays},
    {"invalid byte elsewhere", envelope(chunk("AAAA", ",\"message\":\"\xff\"")), Scan::Finds, Answer::Fails},
    {"overlong slash elsewhere", envelope(chunk("AAAA", ",\"message\":\"\xc0\xaf\"")), Scan::Finds, Answer::Fails},
    {"encoded surrogate elsewhere", envelope(chunk("AAAA", ",\"message\":\"\xed\xa0\x80\"")), Scan::Finds,
        Answer::Fails},
    {"beyond U+10FFFF elsewhere", envelope(chunk("AAAA", ",\"message\":\"\xf4\x90\x80\x80\"")), Scan::Finds,
        Answer::Fails},
    {"cut sequence elsewhere", envelope(chunk("AAAA", ",\"message\":\"\xe2\x82\"")), Scan::Finds, Answer::Fails},
    {"noncharacter elsewhere", envelope(chunk("AAAA", ",\"message\":\"\xef\xbf\xbf\"")), Scan::Finds, Answer::AsQtSays},
    {"invalid byte in a key", envelope("\"\xff\":1," + chunk("AAAA")), Scan::Finds, Answer::Fails},

    // Broken JSON around a chunk.
    {"truncated after the chunk", envelope(chunk("AAAA")).chopped(2), Scan::Leaves, Answer::Fails},
    {"truncated in the chunk", envelope(chunk("AAAAAAAA")).left(envelope(chunk("AAAAAAAA")).indexOf("AAAAAAAA") + 4),
        Scan::Leaves, Answer::Fails},
    {"garbage after the envelope", envelope(chunk("AAAA")) + " x", Scan::Leaves, Answer::Fails},
    {"second envelope after it", envelope(chunk("AAAA")) + envelope(chunk("BBBB")), Scan::Leaves, Answer::Fails},
    {"trailing comma in args", envelope(chunk("AAAA") + ","), Scan::Leaves, Answer::Fails},
    {"missing comma", envelope(chunk("AAAA", R"( "chunkIndex":0)")), Scan::Leaves, Answer::Fails},
    {"missing colon", envelope(R"("chunkBase64" "AAAA")"), Scan::Leaves, Answer::Fails},
    {"single quotes", envelope("'chunkBase64':'AAAA'"), Scan::Leaves, Answer::Fails},
    {"unclosed unknown array before the chunk", envelope(R"("u":[1,)" + chunk("AAAA")), Scan::Leaves, Answer::Fails},
    // The scan only counts brackets; the parse of the rest refuses the text.
    {"mismatched brackets in an unknown value", envelope(R"("u":[1},)" + chunk("AAAA")), Scan::Finds, Answer::Fails},
    {"top level an array", "[" + envelope(chunk("AAAA")) + "]", Scan::Leaves, Answer::Fails},
    {"empty", "", Scan::Leaves, Answer::Fails},
};

class EnvelopeDecode : public testing::TestWithParam<Case> { };

TEST_P(EnvelopeDecode, AgreesWithTheWholeParse)
{
    const Case& c = GetParam();
    EXPECT_EQ(EnvelopeScanner::findChunkText(c.bytes).has_value(), c.scan == Scan::Finds);

    const std::optional<IPCMessage> fast = IPCMessage::decode(c.bytes);
    const std::optional<IPCMessage> whole = IPCMessage::decodeWhole(c.bytes);
    if (c.answer != Answer::AsQtSays) {
        EXPECT_EQ(whole.has_value(), c.answer == Answer::Passes);
    }
    ASSERT_EQ(fast.has_value(), whole.has_value());
    if (!fast) {
        return;
    }
    EXPECT_EQ(*fast, *whole);
    EXPECT_EQ(fast->encode(), whole->encode());
    if (fast->args && fast->args->chunkBase64) {
        const QString text = whole->args->chunkBase64->toString();
        EXPECT_EQ(fast->args->chunkBase64->toString(), text);
        EXPECT_EQ(Base64::decode(*fast->args->chunkBase64), Base64::decode(QStringView(text)));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, EnvelopeDecode, testing::ValuesIn(cases), [](const testing::TestParamInfo<Case>& info) {
    std::string name = info.param.name;
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) {
            ch = '_';
        }
    }
    return name;
});

TEST(EnvelopeDecode, TheChunksTextStaysInTheMessageAndIsDecodedOnce)
{
    const QByteArray payload = QByteArray("\x00\x01\xfe\xff hello", 10).repeated(1000);
    const QByteArray bytes = envelope(chunk(payload.toBase64()));
    const std::optional<IPCMessage> m = IPCMessage::decode(bytes);
    ASSERT_TRUE(m && m->args && m->args->chunkBase64);
    ASSERT_TRUE(m->args->chunkBase64->decoded());
    EXPECT_EQ(*m->args->chunkBase64->decoded(), payload);
    EXPECT_EQ(Base64::decode(*m->args->chunkBase64), payload);
    // The text is a span of the message's own bytes.
    m->args->chunkBase64->visit([&](auto view) {
        if constexpr (std::is_same_v<decltype(view), QByteArrayView>) {
            EXPECT_EQ(view.data(), bytes.constData() + bytes.indexOf(R"("chunkBase64":")") + 15);
        } else {
            ADD_FAILURE() << "the text was copied into a string";
        }
    });
}

TEST(EnvelopeDecode, BytesTheMessageDoesNotOwnAreCopied)
{
    QByteArray storage = envelope(chunk("aGVsbG8="));
    std::optional<IPCMessage> m = IPCMessage::decode(QByteArray::fromRawData(storage.constData(), storage.size()));
    ASSERT_TRUE(m && m->args && m->args->chunkBase64);
    storage.fill('x');
    EXPECT_EQ(m->args->chunkBase64->toString(), "aGVsbG8=");
}

} // namespace
