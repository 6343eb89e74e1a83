// The survey of the files the walk meets: read and parsed on every core,
// reported on this thread in walk order.
#pragma once

#include <memory>

#include "picture/georecord.h"

// Pictures read ahead of the one being reported: memory stays bounded by
// this window, whatever the tree's size.
constexpr int kPicturesInFlight = 64;

struct Survey;
struct SurveyEnd {
  void operator()(Survey *survey) const;
};
using SurveyHandle = std::unique_ptr<Survey, SurveyEnd>;

// Reading threads, one per core or $PINTRAIL_THREADS; none when that is 1,
// and each file is then processed as it is met. Ending the handle reports
// every picture still in flight and stops the threads.
SurveyHandle StartSurvey(GeoRecord &record);
// fd, when not -1, is the file already open for reading; the survey closes it.
void SurveyFile(Survey &survey, const char *path, int fd);
// An entry that is no regular file: never opened, reported without EXIF data.
void SurveyUnreadable(Survey &survey, const char *path);
