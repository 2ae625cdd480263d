// The HTML page the browser is given: the reply, or the lines of a failure,
// between a fixed header and footer.
#pragma once

#include "protocol/WhoisUrl.h"
#include "support/ByteBuffer.h"

// The largest page and reply buffers of the whois flow.
const DWORD PageMaxSize = 65536;

extern const char PageHeaderLine[];
extern const char PageSeparatorLine[];
extern const char PageFooterLine[];
extern const char PageClosingLine[];
// The system's own line that tells the reader a reply did not fit.
extern const char PageCutNoticeLine[];

// Appends the cut notice on a line of its own: after a line feed when the
// text before it does not end with one.
void AppendCutNotice(ByteBuffer& buffer);
// The most AppendCutNotice writes.
DWORD CutNoticeLength();

// Appends the fixed lines of `status` (none for 0 or a value outside 1..7).
void AppendStatusLines(ByteBuffer& buffer, LONG status);

// The lines of `status` with their line feeds, as AppendStatusLines writes
// them, counted in bytes.
DWORD StatusLinesLength(LONG status);

// A page laid out around a reply without copying it: the header, the
// reply's bytes, and the lines after them, handed out in order by Read
// straight from where they are. The reply is cut where the page would not
// keep room below PageMaxSize for what must follow it; then a notice line
// says so, and the page still ends with its separator, footer and closing
// lines. Laying a page out needs no memory, so a page is always whole.
//
// The view keeps pointers to the reply's bytes: they must stay in place and
// unchanged until the view is closed or laid out again.
class PageView {
public:
    PageView() = default;
    // Lays out the page of `reply` (`length` bytes; none when null), to be
    // read from its first byte.
    void Open(const BYTE* reply, DWORD length);
    // The page of a reply that had to be left out: the cut notice stands in
    // its place.
    void OpenWithoutReply();
    // An empty page, as before the first Open: Read hands out nothing.
    void Close();
    // Copies up to `count` bytes of what is left of the page to `out`;
    // returns the number copied.
    DWORD Read(void* out, DWORD count);
    // The whole page's length, read or not.
    DWORD Length() const { return length; }

private:
    // The most pieces a page has: the header line and its line feed, the
    // reply, a line feed and the cut notice line, and the three closing lines.
    static const int MostPieces = 12;
    struct Piece {
        const char* bytes;
        DWORD length;
    };
    void LayOut(const BYTE* reply, DWORD kept, bool cut);
    void Add(const char* bytes, DWORD count);
    void AddLine(const char* line);

    Piece pieces[MostPieces] = {};
    int pieceCount = 0;
    int current = 0;  // the piece Read goes on with
    DWORD offset = 0; // how far into it
    DWORD length = 0;
};

// Fills `page` (a buffer of up to PageMaxSize bytes) with the page of
// `reply` as PageView lays it out, and drains the reply. When memory cannot
// be had for the whole page, the reply is left out with the cut notice in
// its place; when not even that can be had, the page is left empty.
void ComposePage(ByteBuffer& page, ByteBuffer& reply);
