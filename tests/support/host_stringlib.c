/* Stands for a host's own SVSTRING7.so: the test loads it from a folder of
 * its own, with the fixture's text table beside it. */
int svstring7_fixture_marker = 7;
