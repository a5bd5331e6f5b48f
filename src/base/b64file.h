// Base64 (RFC 4648 alphabet, '=' padding): buffer functions, stream functions,
// the streaming codec classes and Base64File, a GenericFile view of base64 text.
#pragma once

#include "base/memfile.h"

#include <cstdint>

// Encodes length bytes (length < 0: a zero-terminated input) without line breaks or a
// terminating zero; the number of characters, 0 when the length cannot be encoded.
int32_t encodeBase64Buffer(const void* bytes, int32_t length, char* out);
// Decodes a text whose length is a positive multiple of 4 (length < 0: zero-terminated);
// the number of bytes, 0 for any invalid input.
int32_t decodeBase64Block(const char* text, int32_t length, uint8_t* out);
// Encodes into target with CR LF after every lineLength characters (rounded up to a
// multiple of 4; 0 no breaks); length 0xFFFFFFFF: a zero-terminated input. The number of
// base64 characters, -2 when a write fails.
int32_t encodeBase64ToStream(const void* bytes, uint32_t length, GenericFile* target, uint32_t lineLength);
// Decodes a text, skipping blanks, CR and LF, into target: the bytes written, 0 for invalid
// or incomplete text, -2 when a write fails. maxOut (0: no limit) stops the reading early.
int32_t decodeBase64Text(const char* text, int32_t length, GenericFile* target, uint32_t maxOut);

// Result codes of the streaming codecs.
const int32_t BASE64_OK = 0;
const int32_t BASE64_READ_FAILED = 102;
const int32_t BASE64_WRITE_FAILED = 103;
const int32_t BASE64_INVALID_DATA = 107;

class EncodeBase
{
public:
    virtual ~EncodeBase() = default;
    virtual int32_t encode(GenericFile* source, bool final, GenericFile* target) = 0;
    virtual void reset() = 0;
};

// Encodes a stream in lines of 64 characters ended by CR LF.
class EncodeBase64 : public EncodeBase
{
public:
    ~EncodeBase64() override;
    int32_t encode(GenericFile* source, bool final, GenericFile* target) override;
    void reset() override;

private:
    int32_t encodePending(GenericFile* target);

    uint8_t pending[129] = {};
    int32_t pendingCount = 0;
    int32_t column = 0;
};

class DecodeBase
{
public:
    virtual void reset() = 0;
    virtual int32_t decode(GenericFile* source, bool final, GenericFile* target) = 0;

protected:
    ~DecodeBase() = default;
};

// Decodes base64 text, skipping CR, LF and TAB.
class DecodeBase64 : public DecodeBase
{
public:
    ~DecodeBase64();
    void reset() override;
    int32_t decode(GenericFile* source, bool final, GenericFile* target) override;

private:
    char chunk[212] = {};
    int32_t chunkCount = 0;
    char group[4] = {};
    int32_t groupCount = 0;
};

// Reading: the decoded bytes of the base64 text that binFile holds from its current
// position (white space ignored, at most charLimit characters when it is not 0).
// Writing: bytes written become base64 text in binFile, in lines of lineLength
// characters ended by CR LF (0: no line breaks); the destructor writes the last group.
class Base64File : public GenericFile
{
public:
    Base64File(GenericFile* binFile, uint32_t lineLength = 64, uint32_t charLimit = 0);
    ~Base64File() override;
    Base64File(const Base64File&) = delete;
    Base64File& operator=(const Base64File&) = delete;

    int32_t read(uint32_t length, uint8_t* buffer, uint32_t* count) override;
    int32_t write(uint32_t length, const uint8_t* buffer) override;
    int32_t seek(int32_t position) override;
    uint32_t tell() override;
    uint32_t size() override;

private:
    int32_t encodeRun(const uint8_t* bytes, uint32_t n);
    void resetState();

    GenericFile* binFile;
    char pendingChars[4] = {};
    int32_t pendingCharCount = 0;
    uint8_t pendingOctets[3] = {};
    int32_t pendingOctetCount = 0;
    uint32_t lineLength;
    uint32_t column = 0;
    uint32_t startPosition;
    uint32_t position = 0;
    uint32_t sizeCache = 0xFFFFFFFFu;
    uint32_t charLimit;
    uint32_t charsConsumed = 0;
    // Set by write: only a view that was written to has pending octets to flush.
    bool writing = false;
};
