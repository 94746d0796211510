#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <array>
#include <cstdint>
#include <functional>

// DES (FIPS 46-3) in cipher-block-chaining mode over a self-describing frame,
// with the Base64 codec the stored passwords are written in.
//
// Frame, as encrypted (integers little-endian):
//   0  4  random integer in [0, 2147483647]
//   4  4  a second random integer
//   8  4  L, the plaintext length (signed)
//   12 L  the plaintext
//   ..    zero bytes up to the next multiple of 8 (the total T = 16, 24, ...)
// The T frame bytes are encrypted in CBC mode with an all-zero chaining block;
// the random first block does the work of an initialisation vector, which is
// not stored. The ciphertext is exactly T bytes.
//
// Key text: its first (at most 8) Windows-1252 bytes, zero-filled, are the DES
// key; parity bits are ignored. An empty Key argument keeps the current key,
// a non-empty one replaces it for this and every later call. An instance whose
// key was never set uses the all-zero key.
//
// Text and bytes meet through Windows-1252, one character per byte, so
// ciphertext returned as text has one character per ciphertext byte.
//
// Errors that reach the caller are thrown as ErrorEjecucion; each member says
// which. An instance is not thread-safe, and a Progress handler must not call
// back into the instance that raised it.
class clsDES {
public:
    clsDES();

    // Base64, standard alphabet with "=" padding. The encoder breaks output
    // longer than 76 characters into lines of 76 followed by CR LF. The decoder
    // is lenient: CR LF pairs and every "=" are dropped wherever they stand,
    // and any other character outside the alphabet (looked up by the low eight
    // bits of its code) counts as "A". A final lone character adds a zero byte.

    // The decoded bytes as text; empty text for empty input. Throws
    // ErrorEjecucion (9) when non-empty input holds nothing but CR LF and "=".
    QString Decode64(const QString& sInput);
    // Throws ErrorEjecucion (9) when nothing is left after dropping CR LF and "=",
    // empty input included.
    QByteArray DecodeArray64(const QString& sInput);
    // Base64 of the Windows-1252 bytes of sInput; empty text for empty input.
    QString Encode64(const QString& sInput);
    // Never throws: any failure gives empty text.
    QString EncodeArray64(const QByteArray& bytInput);

    // Replaces the buffer by the ciphertext of its frame. Throws ErrorEjecucion
    // (6, "Overflow") when the frame would not fit a signed 32-bit length.
    void EncryptByte(QByteArray& byteArray, const QString& Key = {});
    // Replaces a valid ciphertext by its plaintext. Never reports a failure:
    //  - a length that is not a multiple of 8 leaves the buffer untouched;
    //  - a frame whose size field does not fit (a wrong key, damaged data)
    //    leaves the whole decrypted frame in the buffer, untrimmed, and raises
    //    no final Progress of 100.
    // The frame of an empty plaintext decrypts to an empty buffer.
    void DecryptByte(QByteArray& byteArray, const QString& Key = {});

    // File versions of EncryptByte/DecryptByte on local paths. False when
    // InFile is missing, when OutFile exists and Overwrite is false (both files
    // are then untouched; a symbolic link counts as existing even when it leads
    // nowhere), or on any read, decode or write failure. OutFile is replaced
    // atomically by a new file: a symbolic link there is replaced itself, and
    // what it points to is never written. With OutputIn64 the output file holds the Base64
    // text (CR LF line breaks, no terminator); with IsFileIn64 the input is
    // read as such. A failed size check still writes the decrypted frame and
    // returns true.
    bool EncryptFile(const QString& InFile, const QString& OutFile, bool Overwrite, const QString& Key,
                     bool OutputIn64);
    bool DecryptFile(const QString& InFile, const QString& OutFile, bool Overwrite, const QString& Key,
                     bool IsFileIn64);

    // Ciphertext as text (one character per byte) or, with OutputIn64, as Base64.
    QString EncryptString(const QString& Text, const QString& Key = {}, bool OutputIn64 = false);
    // With IsTextIn64 the caller's Text is first replaced by its Base64 decoding
    // (which may throw as Decode64 does). A wrong key gives a frame-length text
    // of unrelated characters and no error.
    QString DecryptString(QString& Text, const QString& Key = {}, bool IsTextIn64 = false);
    // For a temporary or constant text: the same, without writing back.
    QString DecryptString(const QString& Text, const QString& Key = {}, bool IsTextIn64 = false);

    // Sets the key. Assigning the current key text again keeps the schedule.
    void Key(const QString& New_Value);

    // Raised during EncryptByte and DecryptByte with 0, then each whole
    // percentage at most once as the blocks go by, and 100 at the end.
    std::function<void(qint32 Percent)> Progress;

private:
    void BuildBase64Tables();
    std::uint64_t EncryptBlock(std::uint64_t bloque) const;
    std::uint64_t DecryptBlock(std::uint64_t bloque) const;
    static bool FileExists(const QString& ruta);

    template <bool Cifrar> void RecorrerBloques(unsigned char* datos, qsizetype total);
    qint32 NumeroAleatorio();

    friend class clsDESBloques; // test access to the block operation

    QString m_claveTexto;
    // Round keys in the layout the round function consumes: for round i,
    // m_subclaves[2i] holds the 6-bit groups 1, 3, 5, 7 and m_subclaves[2i+1]
    // groups 2, 4, 6, 8, each group at bits 26, 18, 10 and 2.
    std::array<std::uint32_t, 32> m_subclaves{};
    std::uint64_t m_semilla = 0;
    qint32 m_ultimoProgreso = -1;

    std::array<char16_t, 64> m_codificar64{};
    std::array<quint8, 256> m_decodificar64{};
};
