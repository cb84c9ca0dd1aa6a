#include "platform/stream_buffer.h"

static char g_document_buffer[8192];

std::FILE* use_document_buffer(std::FILE* file)
{
    if (file != NULL) (void)std::setvbuf(file, g_document_buffer, _IOFBF, sizeof g_document_buffer);
    return file;
}
