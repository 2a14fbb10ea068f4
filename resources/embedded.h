// Constant data that the build generates from files (cmake/Embed.cmake,
// vezovud_embed_file): a byte array and its length for each embedded file.
#pragma once

// Declares the pair that vezovud_embed_file(<var> <file> symbol) defines:
//   symbol[]     the file's bytes, exactly as on disk
//   symbol_size  how many there are (an empty file gives 0)
#define VEZOVUD_DECLARE_EMBEDDED(symbol) \
  extern const unsigned char symbol[];   \
  extern const unsigned int symbol##_size
