#pragma once
// A few plain spam and legitimate messages: enough for the learned filter
// to tell "cheap pills" from "project meeting".

#include "learn/learnedfilter.h"

namespace LearningExamples {

inline QList<Scan::LearnedFilter::Example> small(bool withHam = true)
{
    using Label = Scan::LearnedFilter::Label;
    QList<Scan::LearnedFilter::Example> examples;
    for (const char *text :
         {"cheap pills, discount pharmacy", "click here for cheap pills", "online pharmacy, buy now"})
        examples.append({"Subject: offer\r\n\r\n" + QByteArray(text) + "\r\n", Label::Spam});
    for (const char *text :
         {"the project meeting agenda", "minutes of tuesday's meeting", "project plan for tuesday"}) {
        if (withHam)
            examples.append({"Subject: team\r\n\r\n" + QByteArray(text) + "\r\n", Label::Ham});
    }
    return examples;
}

} // namespace LearningExamples
