// ws2_32 stand-ins: Windows Sockets names over BSD sockets.
#pragma once
