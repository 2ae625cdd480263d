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

// The most a page holds besides its reply: the header and every line that
// may follow the reply. A page buffer with this much room can always be
// composed whole.
DWORD PageFixedLength();

// Fills `page` with the header, the drained `reply`, the separator, footer
// and closing lines. The reply is cut where the page would not keep room for
// what must follow it, or memory runs out: then a notice line says so, and
// the page still ends with its separator, footer and closing lines. Only
// when memory cannot be had even for those lines is the page left empty.
void ComposePage(ByteBuffer& page, ByteBuffer& reply);
