// What the plug-in's tests share beyond tests/support: the suite names of tests that link the
// plug-in's modules of each build in turn carry the build, so that the cases of the two builds
// are told apart.
#ifndef CORVALE_TESTS_PLUGIN_PLUGIN_TEST_SUPPORT_H
#define CORVALE_TESTS_PLUGIN_PLUGIN_TEST_SUPPORT_H

#if defined(CORVALE_DIAGNOSTIC) && CORVALE_DIAGNOSTIC
#define BUILD_SUITE(name) Diagnostic##name
#else
#define BUILD_SUITE(name) Production##name
#endif

#endif  // CORVALE_TESTS_PLUGIN_PLUGIN_TEST_SUPPORT_H
