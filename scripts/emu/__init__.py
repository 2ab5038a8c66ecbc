"""Runs the built i386 images on an emulated processor.

Machines whose kernel cannot execute 32-bit code cannot run Wine, and with it
none of the test programs that load Tolmar.dll. The plug-in's behaviour needs
very little from Windows, so these modules map the built DLL into the Unicorn
emulator (Debian package python3-unicorn), stand in for the kernel functions
and the host's services it calls, and run its real instructions.

  pe        the processor, the image loader, stand-in functions, calls
            (also from a stand-in back into the image), calling conventions
  kernel    the kernel and user-interface functions the DLL calls
  host      the host: HostQuery, its numbered services, table descriptors,
            the sales-document table the plug-in attaches to
  mm        the host's side of the MM-to-sales command
  scenario  tables of cases: "ok: ..." or "FAIL: ..." per case

The scenarios are scripts/emulate-mm-import.py and emulate-binding.py,
registered as CTest tests.
"""
