from quillon.quillon import main

main()
