#ifndef BX_DESIGNCHECK_TRACEOBSERVATION_H
#define BX_DESIGNCHECK_TRACEOBSERVATION_H

#include "BusObservation.h"

#include <QString>

#include <functional>

/// Reads a stored trace (`.vtrc`, one frame per tab-separated line) into a bus
/// observation, so a capture can be checked long after it ran. A trace saved
/// with every frame ("Raw Frames (All)") gives every measure; a trace of changes
/// only misses the frames it left out.
namespace TraceObservation {

/// Turns one trace line into a frame; false for a line that carries no frame.
bool parseLine(const char* line, int size, ObservedFrame* frame);

/// Adds every line of the trace; `progress`, when given, is told the bytes read
/// now and then. False with `error` filled when the file cannot be read.
bool read(const QString& path, BusObservation* bus, QString* error = nullptr,
          const std::function<void(qint64, qint64)>& progress = {});

/// `read`, with the padding search of a live capture: when the bus's fixed
/// padding identifier is never requested in the trace and `alternative` is,
/// the trace is read again with `alternative` as the padding.
bool readSearchingPadding(const QString& path, BusObservation* bus, quint16 alternative, QString* error = nullptr,
                          const std::function<void(qint64, qint64)>& progress = {});

} // namespace TraceObservation

#endif
