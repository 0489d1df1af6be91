// The buffers and times that bound one check run.
#ifndef TOLVARAN_CHECK_LIMITS_H
#define TOLVARAN_CHECK_LIMITS_H

#define COMMAND_BUFFER_SIZE  1024
#define TOOLTIP_BUFFER_SIZE  256
// The newest new messages a notice names at most.
#define SUMMARY_MESSAGES     3
// The text of a server's [ALERT] as the notice shows it, with its NUL.
#define ALERT_TEXT_SIZE      256
// How long a receive waits for the first byte before the server counts as
// silent.
#define CHECK_TIMEOUT_MS     30000
// How long a whole session may take, counted from the connect: three full
// receive time-outs. A server that answers, however slowly, is done well
// within it; one that trickles a byte at a time is cut off instead of
// holding the check, and the schedule behind it, for ever.
#define CHECK_DEADLINE_MS    (3 * CHECK_TIMEOUT_MS)
// How long the header reads for the notice may take, counted from the
// report. A server that answers at all gives EXAMINE, SEARCH and FETCH (or
// UIDL and three TOPs) in well under a second, on a phone's network too;
// past this the notice gives the count rather than keep the user waiting
// for a server that went quiet.
#define HEADER_BUDGET_MS     5000

#endif
