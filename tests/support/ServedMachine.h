#pragma once
// The machine file the served-line tests give `corvane-cli serve`: ISO with Xon/Xoff, % before
// and after, CR LF line ends, comments dropped from what is sent; the receive starts at % and
// ends at % or DC4, with a 5 s time-out inside the program.

namespace corvane::testing {

inline const char* const ServedIsoMachine =
    "[MCN_RS232C]\n"
    "BaudRate=5\nDataLen=0\nParity=2\nStop=1\nHandShake=1\nOutCode=0\n"
    "PtrStart=17\nPtrStop=19\nPtpStart=18\nPtpStop=20\n"
    "[MCN_Config]\n"
    "OutofFile=0\nXoff=1\nErCode=3\nLfCode=1\nComment=0\nHeadLf=1\n"
    "PtpNull=5;3;0\nPtpSpace=0;0;0\nSendDelay=1\nDefExt=NC\n"
    "PtrBegin=1\nPtrEof=3\nRecvSpace=2\nPtrTimeOut=5000\n";

} // namespace corvane::testing
