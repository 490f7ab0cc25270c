/* The code part of the resource-only DLLs that carry crafted version
   resources for the version tests; only their resource scripts differ. */
int versionFixtureMarker = 1;
