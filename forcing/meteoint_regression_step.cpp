// Methods 10 and 11: the regression set refitted from the current values of a
// station file before the input's step.

#include "forcing/meteoint.h"
#include "forcing/meteoint_files_station.h"
#include "forcing/meteoint_regression.h"

void meteointerpol::CalcElevationRegression(int stationFile) {
    if (InterpolationMethod != 10 && InterpolationMethod != 11) return;
    const StationFileReader* file = StationFile(stationFile);
    if (!file) return;
    const StationDescription& places = file->Stations();
    meteoint::StationFile stations;
    stations.Value = file->Values();
    stations.Altitude = places.Altitude;
    stations.X = places.X;
    stations.Y = places.Y;

    meteoint::RegressionFitSettings settings;
    settings.LowerInversion = RegressionLowerInversion;
    settings.UpperInversion = RegressionUpperInversion;
    settings.Tolerance = RegressionTolerance;
    settings.Overlap = RegressionOverlap;
    settings.ClusterRange = RegressionClusterRange;
    settings.UpperLapseRate = RegressionUpperLapseRate;
    Regression() = meteoint::FitElevationRegression(stations, settings, NoDataBound);
}
