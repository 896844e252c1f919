Set fso = CreateObject("Scripting.FileSystemObject")
Set log = fso.OpenTextFile("C:\log.txt", 8, True)
log.WriteLine Now
log.Close
