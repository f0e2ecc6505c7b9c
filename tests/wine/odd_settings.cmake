# Settings exports on odd settings files through the real profile service.
qv_add_wine_test(odd_settings COMMAND harness odd-settings)
