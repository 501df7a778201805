// The conversion pipeline: checks the paths, unpacks the book with Tarn_Mobi
// in the working folder, normalises its pictures, renders the PDF, copies it
// to its place and leaves the working folder as it was found.
#pragma once

// Exit statuses of bookconv.
enum ConvertResult : int {
  kConverted = 0,
  kInputMissing = 1,
  kWorkFolderMissing = 2,
  kOutputFolderMissing = 3,
  kNotABook = 4,    // the library could not open the book
  kNotUnpacked = 5, // the library could not unpack it
  kRenderingFailed = 6,
  kOutOfMemory = 7,
  kInterrupted = 128, // plus the signal that stopped the conversion
  kUsage = 64,        // fewer than three arguments
};

// Converts the book at `input` into the PDF at `output`, using `workFolder`
// (a final "/" is added when missing) for its temporary files. Returns a
// ConvertResult; every failure prints one "Error: ..." line on standard error.
int ConvertBook(const char *input, const char *output, const char *workFolder);

// Copies `source` to `destination` byte for byte: 0, 2 when the source
// cannot be read, 3 when the destination cannot be opened for writing, 4
// when writing it fell short. Prints nothing; on failure errno tells why.
int CopyBinaryFile(const char *source, const char *destination);
