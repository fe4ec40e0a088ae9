// Names and paths as a terminal shows them.  A name is chosen by whoever
// created the file, and a terminal acts on the control characters it is
// sent (moves the cursor, erases lines, sets the window title or the
// clipboard) instead of showing them; the Unicode bidirectional controls
// reorder what follows them.  So on a terminal each of those characters
// becomes one '?', as GNU find shows them; to a pipe or a file every byte
// passes unchanged, since scripts read the names from there.
#include <cstdarg>
#include <cstring>

#include "trawl.h"

// The length of the UTF-8 sequence at text when it is a whole, well-formed
// one of two to four bytes; 0 otherwise.
static size_t utf8_length(const unsigned char *text)
{
    const unsigned lead = text[0];
    size_t length;
    unsigned low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (text[1] < low || text[1] > high) return 0;
    for (size_t i = 2; i < length; i++)
        if ((text[i] & 0xC0) != 0x80) return 0;
    return length;
}

// The C1 controls U+0080-U+009F (C2 80-9F) and the bidirectional controls
// U+202A-U+202E and U+2066-U+2069 (E2 80 AA-AE, E2 81 A6-A9).
static int is_control_sequence(const unsigned char *text, size_t length)
{
    if (length == 2) return text[0] == 0xC2 && text[1] <= 0x9F;
    if (length != 3 || text[0] != 0xE2) return 0;
    if (text[1] == 0x80) return text[2] >= 0xAA && text[2] <= 0xAE;
    if (text[1] == 0x81) return text[2] >= 0xA6 && text[2] <= 0xA9;
    return 0;
}

size_t shown_span(const char *text)
{
    const unsigned char *start = (const unsigned char *)text;
    const unsigned char *p = start;
    for (;;) {
        const unsigned byte = *p;
        if (byte == 0 || byte < 0x20 || byte == 0x7F) break;
        if (byte < 0x80) {
            p++;
            continue;
        }
        const size_t length = utf8_length(p);
        if (length == 0) {
            // A stray byte 0x80-0x9F is a C1 control to a terminal that
            // takes 8-bit controls; any other stray byte is shown as the
            // terminal shows an invalid byte.
            if (byte <= 0x9F) break;
            p++;
        } else if (is_control_sequence(p, length)) {
            break;
        } else {
            p += length;
        }
    }
    return (size_t)(p - start);
}

size_t control_length(const char *text)
{
    const unsigned char *p = (const unsigned char *)text;
    const size_t length = utf8_length(p);
    return length && is_control_sequence(p, length) ? length : 1;
}

// Decided once for each of the two streams: a run does not move its output.
int writes_to_terminal(FILE *stream)
{
    static int stdout_state = -1, stderr_state = -1;
    int *state = stream == stdout ? &stdout_state : stream == stderr ? &stderr_state : nullptr;
    if (!state) return is_terminal(stream);
    if (*state < 0) *state = is_terminal(stream) != 0;
    return *state;
}

// A line is put together here and written with one call, or in pieces
// when it is longer than the buffer.
struct ShownLine {
    FILE *stream;
    size_t length;
    char text[512];
};

// Byte by byte: these lines are short, and few.
static void put_bytes(ShownLine *line, const char *bytes, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        if (line->length == sizeof line->text) {
            fwrite(line->text, 1, line->length, line->stream);
            line->length = 0;
        }
        line->text[line->length++] = bytes[i];
    }
}

static void put_shown(ShownLine *line, const char *text, int terminal)
{
    if (!terminal) {
        put_bytes(line, text, strlen(text));
        return;
    }
    for (;;) {
        const size_t span = shown_span(text);
        put_bytes(line, text, span);
        text += span;
        if (*text == '\0') return;
        put_bytes(line, "?", 1);
        text += control_length(text);
    }
}

void vprint_shown(FILE *stream, const char *format, va_list arguments)
{
    const int terminal = writes_to_terminal(stream);
    ShownLine line;
    line.stream = stream;
    line.length = 0;
    for (const char *p = format; *p;) {
        if (*p != '%') {
            const char *percent = strchr(p, '%');
            const size_t run = percent ? (size_t)(percent - p) : strlen(p);
            put_bytes(&line, p, run);
            p += run;
            continue;
        }
        p++;
        size_t width = 0;
        while (*p >= '0' && *p <= '9') width = width * 10 + (size_t)(*p++ - '0');
        char conversion = *p ? *p++ : '\0';
        if (conversion == '%') {
            put_bytes(&line, "%", 1);
        } else if (conversion == 'c') {
            const char character[2] = {(char)va_arg(arguments, int), '\0'};
            const int shown = !terminal || shown_span(character) == 1;
            put_bytes(&line, shown ? character : "?", 1);
        } else if (conversion == 's') {
            const char *text = va_arg(arguments, const char *);
            for (size_t length = strlen(text); length < width; length++) put_bytes(&line, " ", 1);
            put_shown(&line, text, terminal);
        }
    }
    fwrite(line.text, 1, line.length, stream);
}

void print_shown(FILE *stream, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vprint_shown(stream, format, arguments);
    va_end(arguments);
}
