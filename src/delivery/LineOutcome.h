#pragma once

namespace kolporta::delivery {

// What became of one address line in a send run. Every line the run reaches gets exactly
// one outcome; a line the run never reached (it was cancelled or gave up first) gets none.
enum class LineOutcome {
    Sent, // the server took the message for it (or the mail program took it over)
    Refused, // the server refused it: the address, the sender or the message
    Failed, // it was not delivered: an error, or the connection was lost before the "."
    Uncertain, // the connection was lost after the end-of-data "." and before its reply
    Skipped, // the mode skips the line (blank, or a "*" line)
};

// The outcomes of one run, counted.
struct LineCounts
{
    int sent = 0;
    int refused = 0;
    int failed = 0;
    int uncertain = 0;
    int skipped = 0;

    void add(LineOutcome outcome)
    {
        switch (outcome) {
        case LineOutcome::Sent:
            ++sent;
            break;
        case LineOutcome::Refused:
            ++refused;
            break;
        case LineOutcome::Failed:
            ++failed;
            break;
        case LineOutcome::Uncertain:
            ++uncertain;
            break;
        case LineOutcome::Skipped:
            ++skipped;
            break;
        }
    }
    int total() const { return sent + refused + failed + uncertain + skipped; }
};

} // namespace kolporta::delivery
