// The About box text, the same in the Maker and the stub. Lines are broken
// by a line feed followed by a carriage return, in that order.
#ifndef VEZOVUD_RESOURCES_ABOUT_TEXT_H
#define VEZOVUD_RESOURCES_ABOUT_TEXT_H

static const char kAboutBoxTitle[] = "About Vezovud";
static const char kAboutText[] =
    "Vezovud v1.1\n\r\n\rDescription: Vezovud is a small tool to make\n\r"
    "Self-Extracting ZIP archives.\n\r"
    "Copyright (c) the Vezovud authors.\n\r"
    "Compression by zlib and minizip.";

#endif
